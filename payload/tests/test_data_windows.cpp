// Samples carried as RCDATA resources of the test program, named after the
// file with "_" for "." and "-".
#include <windows.h>

#include <cwctype>
#include <string>

#include "payload/tests/test_data.h"

Bytes TestData(const char* name) {
    std::wstring resourceName;
    for (const char* c = name; *c != '\0'; ++c) {
        resourceName += (*c == '.' || *c == '-') ? L'_' : static_cast<wchar_t>(towupper(*c));
    }
    HRSRC resource = FindResourceW(nullptr, resourceName.c_str(), RT_RCDATA);
    HGLOBAL loaded = resource != nullptr ? LoadResource(nullptr, resource) : nullptr;
    const unsigned char* bytes =
        loaded != nullptr ? static_cast<const unsigned char*>(LockResource(loaded)) : nullptr;
    if (bytes == nullptr) {
        return Bytes();
    }
    return Bytes(bytes, bytes + SizeofResource(nullptr, resource));
}
