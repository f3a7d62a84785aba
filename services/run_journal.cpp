#include "services/run_journal.h"

#include <windows.h>

#include <cwchar>

#include "platform/registry_key.h"
#include "platform/scoped_handle.h"
#include "setup/process_state.h"

namespace {

constexpr wchar_t kJournalValue[] = L"SetupStoppedServices";
constexpr wchar_t kAsideFolderValue[] = L"SetupAsideFolder";
constexpr wchar_t kAsideFolderIdentityValue[] = L"SetupAsideFolderId";
// Every name with its terminator, and the list's own.
constexpr size_t kJournalChars = kDependentCapacity * kNameChars + 1;

// The product's machine settings key, opened when it exists.
ScopedRegistryKey OpenSettingsKey(REGSAM access) {
    wchar_t keyPath[kNameChars];
    ScopedRegistryKey key;
    if (FormatText(keyPath, L"Software\\%s\\%s", kMakerWord, kProductWord)) {
        RegOpenKeyExW(HKEY_LOCAL_MACHINE, keyPath, 0, access, key.receive());
    }
    return key;
}

void DeleteJournalValue(const wchar_t* name) {
    const ScopedRegistryKey key = OpenSettingsKey(KEY_SET_VALUE);
    if (key) {
        RegDeleteValueW(key.get(), name);
    }
}

// Flushed: the next run, after a restart too, relies on it.
void WriteFlushed(const wchar_t* name, DWORD type, const void* data, DWORD bytes) {
    RegistryKey key;
    if (key.CreateProductKey(HKEY_LOCAL_MACHINE) &&
        RegSetValueExW(key.Key(), name, 0, type, static_cast<const BYTE*>(data), bytes) ==
            ERROR_SUCCESS) {
        RegFlushKey(key.Key());
    }
}

}  // namespace

bool AddDependent(DependentList* list, const wchar_t* name) {
    for (size_t index = 0; index < list->count; ++index) {
        if (_wcsicmp(list->names[index], name) == 0) {
            return true;
        }
    }
    if (list->count == kDependentCapacity || !FormatText(list->names[list->count], L"%s", name)) {
        return false;
    }
    ++list->count;
    return true;
}

void WriteDependentJournal(const DependentList& list) {
    if (list.count == 0) {
        DeleteJournalValue(kJournalValue);
        return;
    }
    wchar_t text[kJournalChars];
    size_t length = 0;
    for (size_t index = 0; index < list.count; ++index) {
        wcscpy_s(text + length, kJournalChars - length, list.names[index]);
        length += wcslen(list.names[index]) + 1;
    }
    text[length++] = L'\0';
    WriteFlushed(kJournalValue, REG_MULTI_SZ, text, static_cast<DWORD>(length * sizeof(wchar_t)));
}

void ReadDependentJournal(DependentList* list) {
    const ScopedRegistryKey key = OpenSettingsKey(KEY_QUERY_VALUE);
    // Two terminators beyond what is read: a value cut or written without its
    // own still ends.
    wchar_t text[kJournalChars + 2] = {};
    DWORD type = 0;
    DWORD bytes = kJournalChars * sizeof(wchar_t);
    if (!key ||
        RegQueryValueExW(key.get(), kJournalValue, nullptr, &type, reinterpret_cast<BYTE*>(text),
                         &bytes) != ERROR_SUCCESS ||
        type != REG_MULTI_SZ) {
        return;
    }
    for (const wchar_t* name = text; *name != L'\0'; name += wcslen(name) + 1) {
        AddDependent(list, name);
    }
}

void WriteAsideFolderJournal(const wchar_t* folder) {
    DeleteJournalValue(kAsideFolderIdentityValue);
    if (folder[0] == L'\0') {
        DeleteJournalValue(kAsideFolderValue);
        return;
    }
    WriteFlushed(kAsideFolderValue, REG_SZ, folder,
                 static_cast<DWORD>((wcslen(folder) + 1) * sizeof(wchar_t)));
}

void WriteAsideFolderIdentity(const FileIdentity& identity) {
    WriteFlushed(kAsideFolderIdentityValue, REG_BINARY, &identity, sizeof(identity));
}

bool ReadAsideFolderJournal(wchar_t (&folder)[kPathChars], FileIdentity* identity,
                            bool* identified) {
    const ScopedRegistryKey key = OpenSettingsKey(KEY_QUERY_VALUE);
    // One terminator beyond what is read: a value written without its own still ends.
    wchar_t text[kPathChars + 1] = {};
    DWORD type = 0;
    DWORD bytes = kPathChars * sizeof(wchar_t);
    if (!key ||
        RegQueryValueExW(key.get(), kAsideFolderValue, nullptr, &type,
                         reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS ||
        type != REG_SZ || text[0] == L'\0' || !FormatText(folder, L"%s", text)) {
        return false;
    }
    bytes = sizeof(*identity);
    *identified = RegQueryValueExW(key.get(), kAsideFolderIdentityValue, nullptr, &type,
                                   reinterpret_cast<BYTE*>(identity), &bytes) == ERROR_SUCCESS &&
                  type == REG_BINARY && bytes == sizeof(*identity);
    return true;
}
