#include "services/stopped_dependents.h"

#include <windows.h>

#include <cwchar>

#include "platform/registry_key.h"
#include "platform/scoped_handle.h"
#include "setup/process_state.h"

namespace {

constexpr wchar_t kJournalValue[] = L"SetupStoppedServices";
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
        const ScopedRegistryKey key = OpenSettingsKey(KEY_SET_VALUE);
        if (key) {
            RegDeleteValueW(key.get(), kJournalValue);
        }
        return;
    }
    RegistryKey key;
    if (!key.CreateProductKey(HKEY_LOCAL_MACHINE)) {
        return;
    }
    wchar_t text[kJournalChars];
    size_t length = 0;
    for (size_t index = 0; index < list.count; ++index) {
        wcscpy_s(text + length, kJournalChars - length, list.names[index]);
        length += wcslen(list.names[index]) + 1;
    }
    text[length++] = L'\0';
    RegSetValueExW(key.Key(), kJournalValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(text),
                   static_cast<DWORD>(length * sizeof(wchar_t)));
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
