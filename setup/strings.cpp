#include "setup/strings.h"

#include <windows.h>

#include "setup/resource_ids.h"

namespace {

wchar_t g_messageText[kMessageTextChars];
wchar_t g_productName[kProductNameChars];

const wchar_t* LoadInto(unsigned id, wchar_t* buffer, int capacity) {
    buffer[0] = L'\0';
    if (LoadStringW(GetModuleHandleW(nullptr), id, buffer, capacity) == 0) {
        wchar_t systemText[1024] = L"";
        // No argument list: a system text with %1 inserts would read arguments
        // that are not there.
        FormatMessageW(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                       GetLastError(), 0, systemText, 1024, nullptr);
        MessageBoxW(nullptr, systemText, nullptr, MB_ICONWARNING);
    }
    return buffer;
}

}  // namespace

const wchar_t* LoadMessageText(unsigned id) {
    return LoadInto(id, g_messageText, kMessageTextChars);
}

const wchar_t* ProductDisplayName() {
    return LoadInto(IDS_PRODUCT_NAME, g_productName, kProductNameChars);
}
