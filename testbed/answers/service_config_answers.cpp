// The injector's Windows answers for the optional settings of a service that
// Wine does not keep (failure actions and their flag, delayed start, SID type,
// required privileges, triggers), kept where Windows keeps them, under the
// service's registry key, so that a test can set and read them there; and
// Windows 10's pre-shutdown time for a registration that never set one.
#include <windows.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <cwchar>
#include <string>
#include <utility>
#include <vector>

#include "platform/scoped_handle.h"
#include "testbed/answers/windows_answers.h"

namespace {

// SERVICE_TRIGGER_INFO, SERVICE_TRIGGER and SERVICE_TRIGGER_SPECIFIC_DATA_ITEM,
// which the toolchain's headers lack.
struct TriggerDataItem {
    DWORD type;
    DWORD size;
    BYTE* data;
};
struct Trigger {
    DWORD type;
    DWORD action;
    GUID* subtype;
    DWORD itemCount;
    TriggerDataItem* items;
};
struct TriggerInformation {
    DWORD count;
    Trigger* triggers;
    BYTE* reserved;
};

// A value as stored; empty when there is none.
std::vector<BYTE> ReadBytes(HKEY key, const wchar_t* name) {
    DWORD size = 0;
    std::vector<BYTE> bytes;
    if (RegQueryValueExW(key, name, nullptr, nullptr, nullptr, &size) == ERROR_SUCCESS) {
        bytes.resize(size);
        if (RegQueryValueExW(key, name, nullptr, nullptr, bytes.data(), &size) != ERROR_SUCCESS) {
            bytes.clear();
        }
    }
    return bytes;
}

DWORD ReadWord(HKEY key, const wchar_t* name) {
    const std::vector<BYTE> bytes = ReadBytes(key, name);
    DWORD word = 0;
    memcpy(&word, bytes.data(), bytes.size() == sizeof(word) ? sizeof(word) : 0);
    return word;
}

// Points the field at a copy of a text or list value, terminated whatever
// was stored; null when there is none and no empty list is asked for.
void PointToText(HKEY key, const wchar_t* name, size_t field, bool emptyList,
                 PackedAnswer* answer) {
    std::vector<BYTE> bytes = ReadBytes(key, name);
    if (!bytes.empty() || emptyList) {
        bytes.resize(bytes.size() + 2 * sizeof(wchar_t));
        answer->Point(field, answer->Add(bytes.data(), bytes.size()));
    }
}

DWORD WriteValue(HKEY key, const wchar_t* name, DWORD type, const void* data, size_t size) {
    return RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data),
                          static_cast<DWORD>(size));
}

// An empty text deletes the value, a null one leaves it.
DWORD WriteText(HKEY key, const wchar_t* name, const wchar_t* text) {
    if (text == nullptr) {
        return ERROR_SUCCESS;
    }
    const DWORD error = text[0] == L'\0' ? RegDeleteValueW(key, name)
                                         : WriteValue(key, name, REG_SZ, text,
                                                      (wcslen(text) + 1) * sizeof(wchar_t));
    return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
}

// FailureActions holds the structure as Windows stores it: the reset period,
// two unused words, the number of actions, one unused word, then the actions.
constexpr size_t kActionsHeader = 5 * sizeof(DWORD);

struct Level {
    DWORD level;
    const wchar_t* value;  // the one that keeps a one-word level
    void (*read)(HKEY key, const Level& level, PackedAnswer* answer);
    DWORD (*write)(HKEY key, const Level& level, const void* info);
};

void ReadWordLevel(HKEY key, const Level& level, PackedAnswer* answer) {
    const DWORD word = ReadWord(key, level.value);
    answer->Add(&word, sizeof(word));
}

DWORD WriteWordLevel(HKEY key, const Level& level, const void* info) {
    return WriteValue(key, level.value, REG_DWORD, info, sizeof(DWORD));
}

DWORD WriteSidType(HKEY key, const Level& level, const void* info) {
    const DWORD type = static_cast<const SERVICE_SID_INFO*>(info)->dwServiceSidType;
    return type == SERVICE_SID_TYPE_NONE || type == SERVICE_SID_TYPE_UNRESTRICTED ||
                   type == SERVICE_SID_TYPE_RESTRICTED
               ? WriteWordLevel(key, level, info)
               : ERROR_INVALID_PARAMETER;
}

void ReadFailureActions(HKEY key, const Level&, PackedAnswer* answer) {
    const std::vector<BYTE> stored = ReadBytes(key, L"FailureActions");
    DWORD header[5] = {};
    memcpy(header, stored.data(), stored.size() >= kActionsHeader ? kActionsHeader : 0);
    const size_t fit =
        stored.size() > kActionsHeader ? (stored.size() - kActionsHeader) / sizeof(SC_ACTION) : 0;
    const DWORD count = static_cast<DWORD>(std::min<size_t>(header[3], fit));
    const SERVICE_FAILURE_ACTIONSW actions = {header[0], nullptr, nullptr, count, nullptr};
    const size_t at = answer->Add(&actions, sizeof(actions));
    PointToText(key, L"RebootMessage", at + offsetof(SERVICE_FAILURE_ACTIONSW, lpRebootMsg), false,
                answer);
    PointToText(key, L"FailureCommand", at + offsetof(SERVICE_FAILURE_ACTIONSW, lpCommand), false,
                answer);
    if (count > 0) {
        answer->Point(at + offsetof(SERVICE_FAILURE_ACTIONSW, lpsaActions),
                      answer->Add(stored.data() + kActionsHeader, count * sizeof(SC_ACTION)));
    }
}

// No actions with an array given deletes them and the reset period; no
// array leaves both.
DWORD WriteFailureActions(HKEY key, const Level&, const void* info) {
    const auto* actions = static_cast<const SERVICE_FAILURE_ACTIONSW*>(info);
    DWORD error = WriteText(key, L"RebootMessage", actions->lpRebootMsg);
    error = error != ERROR_SUCCESS ? error : WriteText(key, L"FailureCommand", actions->lpCommand);
    if (error != ERROR_SUCCESS || actions->lpsaActions == nullptr) {
        return error;
    }
    if (actions->cActions == 0) {
        error = RegDeleteValueW(key, L"FailureActions");
        return error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    }
    const DWORD header[5] = {actions->dwResetPeriod, 0, 0, actions->cActions, 0};
    std::vector<BYTE> stored(kActionsHeader + actions->cActions * sizeof(SC_ACTION));
    memcpy(stored.data(), header, kActionsHeader);
    memcpy(stored.data() + kActionsHeader, actions->lpsaActions,
           actions->cActions * sizeof(SC_ACTION));
    return WriteValue(key, L"FailureActions", REG_BINARY, stored.data(), stored.size());
}

void ReadPrivileges(HKEY key, const Level& level, PackedAnswer* answer) {
    const SERVICE_REQUIRED_PRIVILEGES_INFOW privileges = {nullptr};
    const size_t at = answer->Add(&privileges, sizeof(privileges));
    PointToText(key, level.value, at, true, answer);
}

DWORD WritePrivileges(HKEY key, const Level& level, const void* info) {
    const wchar_t* list =
        static_cast<const SERVICE_REQUIRED_PRIVILEGES_INFOW*>(info)->pmszRequiredPrivileges;
    size_t length = 0;
    while (list != nullptr && list[length] != L'\0') {
        length += wcslen(list + length) + 1;
    }
    return list == nullptr
               ? ERROR_SUCCESS
               : WriteValue(key, level.value, REG_MULTI_SZ, list, (length + 1) * sizeof(wchar_t));
}

// TriggerInfo holds a key for each trigger, "0" on: Type, Action, GUID, and
// DataN with DataTypeN for each data item.
std::wstring Numbered(const wchar_t* name, size_t number) {
    return name + std::to_wstring(number);
}

struct StoredTrigger {
    Trigger fixed;  // its pointers null
    std::vector<BYTE> subtype;
    std::vector<TriggerDataItem> items;  // their pointers null
    std::vector<std::vector<BYTE>> data;
};

StoredTrigger ReadTrigger(HKEY key) {
    StoredTrigger trigger = {
        {ReadWord(key, L"Type"), ReadWord(key, L"Action"), nullptr, 0, nullptr},
        ReadBytes(key, L"GUID"),
        {},
        {}};
    for (std::vector<BYTE> data;
         !(data = ReadBytes(key, Numbered(L"Data", trigger.data.size()).c_str())).empty();) {
        trigger.items.push_back({ReadWord(key, Numbered(L"DataType", trigger.data.size()).c_str()),
                                 static_cast<DWORD>(data.size()), nullptr});
        trigger.data.push_back(std::move(data));
    }
    trigger.fixed.itemCount = static_cast<DWORD>(trigger.items.size());
    return trigger;
}

void ReadTriggers(HKEY key, const Level&, PackedAnswer* answer) {
    std::vector<StoredTrigger> stored;
    for (ScopedRegistryKey trigger;
         RegOpenKeyExW(key, Numbered(L"TriggerInfo\\", stored.size()).c_str(), 0, KEY_READ,
                       trigger.receive()) == ERROR_SUCCESS;) {
        stored.push_back(ReadTrigger(trigger.get()));
    }
    const TriggerInformation information = {static_cast<DWORD>(stored.size()), nullptr, nullptr};
    const size_t at = answer->Add(&information, sizeof(information));
    std::vector<Trigger> fixed;
    for (const StoredTrigger& trigger : stored) {
        fixed.push_back(trigger.fixed);
    }
    const size_t first = answer->Add(fixed.data(), fixed.size() * sizeof(Trigger));
    if (!stored.empty()) {
        answer->Point(at + offsetof(TriggerInformation, triggers), first);
    }
    for (size_t index = 0; index < stored.size(); ++index) {
        const StoredTrigger& trigger = stored[index];
        const size_t fields = first + index * sizeof(Trigger);
        if (trigger.subtype.size() == sizeof(GUID)) {
            answer->Point(fields + offsetof(Trigger, subtype),
                          answer->Add(trigger.subtype.data(), sizeof(GUID)));
        }
        const size_t items =
            answer->Add(trigger.items.data(), trigger.items.size() * sizeof(TriggerDataItem));
        if (!trigger.items.empty()) {
            answer->Point(fields + offsetof(Trigger, items), items);
        }
        for (size_t item = 0; item < trigger.data.size(); ++item) {
            answer->Point(items + item * sizeof(TriggerDataItem) + offsetof(TriggerDataItem, data),
                          answer->Add(trigger.data[item].data(), trigger.data[item].size()));
        }
    }
}

DWORD WriteTrigger(HKEY key, const Trigger& trigger) {
    DWORD error = WriteValue(key, L"Type", REG_DWORD, &trigger.type, sizeof(DWORD));
    const auto keep = [&error](DWORD next) { error = error != ERROR_SUCCESS ? error : next; };
    keep(WriteValue(key, L"Action", REG_DWORD, &trigger.action, sizeof(DWORD)));
    if (trigger.subtype != nullptr) {
        keep(WriteValue(key, L"GUID", REG_BINARY, trigger.subtype, sizeof(GUID)));
    }
    for (DWORD item = 0; item < trigger.itemCount; ++item) {
        const TriggerDataItem& data = trigger.items[item];
        keep(WriteValue(key, Numbered(L"Data", item).c_str(), REG_BINARY, data.data, data.size));
        keep(WriteValue(key, Numbered(L"DataType", item).c_str(), REG_DWORD, &data.type,
                        sizeof(DWORD)));
    }
    return error;
}

DWORD WriteTriggers(HKEY key, const Level&, const void* info) {
    const auto* information = static_cast<const TriggerInformation*>(info);
    ScopedRegistryKey first;
    if (information->count == 0 &&
        RegOpenKeyExW(key, L"TriggerInfo\\0", 0, KEY_READ, first.receive()) != ERROR_SUCCESS) {
        return ERROR_INVALID_PARAMETER;
    }
    DWORD error = RegDeleteTreeW(key, L"TriggerInfo");
    error = error == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : error;
    for (DWORD index = 0; error == ERROR_SUCCESS && index < information->count; ++index) {
        ScopedRegistryKey trigger;
        error = RegCreateKeyExW(key, Numbered(L"TriggerInfo\\", index).c_str(), 0, nullptr, 0,
                                KEY_WRITE, nullptr, trigger.receive(), nullptr);
        error = error != ERROR_SUCCESS ? error
                                       : WriteTrigger(trigger.get(), information->triggers[index]);
    }
    return error;
}

// Each level's structure, whose page on Microsoft Learn says what it holds,
// and where Windows keeps it under the service's key.
const Level kLevels[] = {
    // SERVICE_FAILURE_ACTIONSW (winsvc.h): no reset period, no actions, no
    // reboot message and no command until set.
    {SERVICE_CONFIG_FAILURE_ACTIONS, nullptr, ReadFailureActions, WriteFailureActions},
    // SERVICE_DELAYED_AUTO_START_INFO (winsvc.h): FALSE until set. "Any
    // service can be marked", though only an auto-start one is delayed.
    {SERVICE_CONFIG_DELAYED_AUTO_START_INFO, L"DelayedAutostart", ReadWordLevel, WriteWordLevel},
    // SERVICE_FAILURE_ACTIONS_FLAG (winsvc.h): FALSE until set.
    {SERVICE_CONFIG_FAILURE_ACTIONS_FLAG, L"FailureActionsOnNonCrashFailures", ReadWordLevel,
     WriteWordLevel},
    // SERVICE_SID_INFO (winsvc.h): SERVICE_SID_TYPE_NONE until set; none,
    // unrestricted or restricted.
    {SERVICE_CONFIG_SERVICE_SID_INFO, L"ServiceSidType", ReadWordLevel, WriteSidType},
    // SERVICE_REQUIRED_PRIVILEGES_INFOW (winsvc.h): a multi-string, empty
    // until set.
    {SERVICE_CONFIG_REQUIRED_PRIVILEGES_INFO, L"RequiredPrivileges", ReadPrivileges,
     WritePrivileges},
    // SERVICE_TRIGGER_INFO (winsvc.h): none until set; no triggers given
    // removes them all, and on a service that has none fails with
    // ERROR_INVALID_PARAMETER.
    {SERVICE_CONFIG_TRIGGER_INFO, nullptr, ReadTriggers, WriteTriggers},
};

const Level* FindLevel(DWORD level) {
    for (const Level& row : kLevels) {
        if (row.level == level) {
            return &row;
        }
    }
    return nullptr;
}

// The service's key, when the worker opened the service and it has one.
ScopedRegistryKey OpenServiceKey(SC_HANDLE service, REGSAM access) {
    const std::wstring name = OpenedName(service);
    ScopedRegistryKey key;
    if (name.empty() || RegOpenKeyExW(HKEY_LOCAL_MACHINE, ServiceKeyPath(name).c_str(), 0, access,
                                      key.receive()) != ERROR_SUCCESS) {
        key.release();
    }
    return key;
}

// What Wine stores for every service it creates: taken for "never set".
constexpr DWORD kWinePreshutdownMilliseconds = 180000;
// SERVICE_PRESHUTDOWN_INFO (winsvc.h), Microsoft Learn: the default from
// build 15063 on.
constexpr DWORD kWindows10PreshutdownMilliseconds = 10000;

}  // namespace

// QueryServiceConfig2W (winsvc.h), Microsoft Learn: ERROR_INSUFFICIENT_BUFFER
// with the bytes needed, and nothing written, when the buffer is too small.
BOOL WINAPI QueryServiceConfig2AsWindows(SC_HANDLE service, DWORD level, BYTE* buffer, DWORD size,
                                         DWORD* needed) {
    const Level* row = FindLevel(level);
    const ScopedRegistryKey key =
        row != nullptr ? OpenServiceKey(service, KEY_READ) : ScopedRegistryKey();
    if (!key) {
        const BOOL read = QueryServiceConfig2W(service, level, buffer, size, needed);
        auto* preshutdown = reinterpret_cast<SERVICE_PRESHUTDOWN_INFO*>(buffer);
        if (read && level == SERVICE_CONFIG_PRESHUTDOWN_INFO &&
            preshutdown->dwPreshutdownTimeout == kWinePreshutdownMilliseconds) {
            preshutdown->dwPreshutdownTimeout = kWindows10PreshutdownMilliseconds;
        }
        return read;
    }
    PackedAnswer answer;
    row->read(key.get(), *row, &answer);
    return answer.Deliver(buffer, size, needed, ERROR_INSUFFICIENT_BUFFER);
}

// ChangeServiceConfig2W (winsvc.h), Microsoft Learn: no information leaves
// the setting unchanged.
BOOL WINAPI ChangeServiceConfig2AsWindows(SC_HANDLE service, DWORD level, void* info) {
    if (IsMarkedForDeletionAsWindows(service)) {
        SetLastError(ERROR_SERVICE_MARKED_FOR_DELETE);
        return FALSE;
    }
    const Level* row = FindLevel(level);
    const ScopedRegistryKey key =
        row != nullptr ? OpenServiceKey(service, KEY_READ | KEY_WRITE) : ScopedRegistryKey();
    if (!key) {
        return ChangeServiceConfig2W(service, level, info);
    }
    const DWORD error = info != nullptr ? row->write(key.get(), *row, info) : ERROR_SUCCESS;
    SetLastError(error);
    return error == ERROR_SUCCESS;
}
