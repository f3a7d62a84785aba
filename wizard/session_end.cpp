#include "wizard/session_end.h"

#include "platform/system_library.h"
#include "setup/resource_ids.h"
#include "setup/strings.h"

// Looked up at run time: Windows Vista brought them.
using ShutdownBlockReasonCreateFunction = BOOL(WINAPI*)(HWND, LPCWSTR);
using ShutdownBlockReasonDestroyFunction = BOOL(WINAPI*)(HWND);

void ShowSessionEndReason(HWND dialog) {
    const auto create =
        SystemFunction<ShutdownBlockReasonCreateFunction>(L"user32", "ShutdownBlockReasonCreate");
    if (create != nullptr) {
        create(dialog, LoadMessageText(IDS_SESSION_END_WAIT));
    }
}

void ClearSessionEndReason(HWND dialog) {
    const auto destroy =
        SystemFunction<ShutdownBlockReasonDestroyFunction>(L"user32", "ShutdownBlockReasonDestroy");
    if (destroy != nullptr) {
        destroy(dialog);
    }
}
