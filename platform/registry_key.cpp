#include "platform/registry_key.h"

#include "platform/text_format.h"

namespace {

// The platform layer sits below the product vocabulary of setup/, so the key
// keeps its own copy of the two words.
constexpr const wchar_t* kProductKeyFormat = L"Software\\%s\\%s";
constexpr const wchar_t* kMakerKeyWord = L"orbek";
constexpr const wchar_t* kProductKeyWord = L"Portvane";
constexpr size_t kProductKeyChars = 200;

}  // namespace

bool RegistryKey::CreateProductKey(HKEY root) {
    Close();
    wchar_t path[kProductKeyChars];
    if (!FormatText(path, kProductKeyFormat, kMakerKeyWord, kProductKeyWord)) {
        return false;
    }
    HKEY created = nullptr;
    const LONG status = RegCreateKeyExW(root, path, 0, nullptr, REG_OPTION_NON_VOLATILE,
                                        KEY_ALL_ACCESS, nullptr, &created, nullptr);
    if (status != ERROR_SUCCESS) {
        return false;
    }
    key_.reset(created);
    return true;
}

bool RegistryKey::SetInstallMark() {
    if (!IsOpen()) {
        return false;
    }
    const DWORD installed = 1;
    return RegSetValueExW(key_.get(), L"Install", 0, REG_DWORD,
                          reinterpret_cast<const BYTE*>(&installed),
                          sizeof(installed)) == ERROR_SUCCESS;
}

bool RegistryKey::Close() {
    key_.reset();
    return true;
}
