#include "wizard/session_end.h"

#include "setup/resource_ids.h"
#include "setup/strings.h"

namespace {

// Looked up at run time: Windows Vista brought them.
using ShutdownBlockReasonCreateFunction = BOOL(WINAPI*)(HWND, LPCWSTR);
using ShutdownBlockReasonDestroyFunction = BOOL(WINAPI*)(HWND);

template <typename Function>
Function User32Function(const char* name) {
    return reinterpret_cast<Function>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), name)));
}

}  // namespace

void ShowSessionEndReason(HWND dialog) {
    const auto create =
        User32Function<ShutdownBlockReasonCreateFunction>("ShutdownBlockReasonCreate");
    if (create != nullptr) {
        create(dialog, LoadMessageText(IDS_SESSION_END_WAIT));
    }
}

void ClearSessionEndReason(HWND dialog) {
    const auto destroy =
        User32Function<ShutdownBlockReasonDestroyFunction>("ShutdownBlockReasonDestroy");
    if (destroy != nullptr) {
        destroy(dialog);
    }
}
