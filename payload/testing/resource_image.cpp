#include "payload/testing/resource_image.h"

#include <cwctype>
#include <string>

#include "platform/text_format.h"

namespace {

// The resource compiler stores names upper-case and lookups rely on it.
std::wstring StoredName(const wchar_t* name) {
    std::wstring stored = name;
    for (wchar_t& c : stored) {
        c = static_cast<wchar_t>(towupper(c));
    }
    return stored;
}

}  // namespace

ScopedModule LoadCopyWithResources(const wchar_t* path, const ResourceItem* items, size_t count) {
    wchar_t program[kPathChars];
    const DWORD length = GetModuleFileNameW(nullptr, program, kPathChars);
    if (length == 0 || length >= kPathChars || !CopyFileW(program, path, FALSE)) {
        return ScopedModule();
    }
    // Starting from no resources: Wine does not remove single ones.
    HANDLE update = BeginUpdateResourceW(path, TRUE);
    if (update == nullptr) {
        return ScopedModule();
    }
    const WORD japanese = MAKELANGID(LANG_JAPANESE, SUBLANG_JAPANESE_JAPAN);
    bool added = true;
    for (size_t i = 0; i < count && added; ++i) {
        const ResourceItem& item = items[i];
        const std::wstring type = IS_INTRESOURCE(item.type) ? L"" : StoredName(item.type);
        const std::wstring name = IS_INTRESOURCE(item.name) ? L"" : StoredName(item.name);
        added = UpdateResourceW(update, IS_INTRESOURCE(item.type) ? item.type : type.c_str(),
                                IS_INTRESOURCE(item.name) ? item.name : name.c_str(), japanese,
                                const_cast<void*>(item.data), item.size) != FALSE;
    }
    if (!EndUpdateResourceW(update, added ? FALSE : TRUE) || !added) {
        return ScopedModule();
    }
    return ScopedModule(
        LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
}
