#include "wizard/finishing_actions.h"

#include "platform/scoped_handle.h"

namespace {

// Every handle is closed when this returns; the result is the first failing
// call's error, or ERROR_SUCCESS.
DWORD StartWithShellToken(const wchar_t* applicationPath) {
    DWORD shellProcessId = 0;
    GetWindowThreadProcessId(GetShellWindow(), &shellProcessId);
    ScopedKernelHandle shellProcess(OpenProcess(MAXIMUM_ALLOWED, FALSE, shellProcessId));
    if (!shellProcess) {
        return GetLastError();
    }
    ScopedKernelHandle shellToken;
    if (!OpenProcessToken(shellProcess.get(), TOKEN_ALL_ACCESS, shellToken.receive())) {
        return GetLastError();
    }
    ScopedKernelHandle primaryToken;
    if (!DuplicateTokenEx(shellToken.get(), MAXIMUM_ALLOWED, nullptr, SecurityDelegation,
                          TokenPrimary, primaryToken.receive())) {
        return GetLastError();
    }
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    if (!CreateProcessWithTokenW(primaryToken.get(), 0, applicationPath, nullptr, 0, nullptr,
                                 nullptr, &startup, &started)) {
        return GetLastError();
    }
    // Nobody waits for the application.
    ScopedKernelHandle process(started.hProcess);
    ScopedKernelHandle thread(started.hThread);
    return ERROR_SUCCESS;
}

// Clipboard history, Remote Desktop's clipboard and clipboard managers keep
// the clipboard open for a moment after every change.
constexpr DWORD kClipboardWaitMs = 1000;
constexpr DWORD kClipboardStepMs = 20;

bool OpenClipboardWhenFree(HWND owner) {
    const DWORD start = GetTickCount();
    while (!OpenClipboard(owner)) {
        if (GetTickCount() - start >= kClipboardWaitMs) {
            return false;
        }
        Sleep(kClipboardStepMs);
    }
    return true;
}

// The open clipboard is closed on every path out of the scope.
class OpenedClipboard {
  public:
    explicit OpenedClipboard(HWND owner) : opened_(OpenClipboardWhenFree(owner)) {}
    ~OpenedClipboard() {
        if (opened_) {
            CloseClipboard();
        }
    }
    OpenedClipboard(const OpenedClipboard&) = delete;
    OpenedClipboard& operator=(const OpenedClipboard&) = delete;
    bool opened() const { return opened_; }

  private:
    bool opened_;
};

}  // namespace

bool LaunchAsDesktopUser(const wchar_t* applicationPath) {
    const DWORD error = StartWithShellToken(applicationPath);
    if (error != ERROR_SUCCESS) {
        SetLastError(error);
        return false;
    }
    return true;
}

SIZE_T ClipboardBlockBytes(const wchar_t* text) {
    return (static_cast<SIZE_T>(lstrlenW(text)) + 1) * sizeof(wchar_t);
}

bool CopyTextToClipboard(HWND owner, const wchar_t* text) {
    ScopedGlobalMemory block(GlobalAlloc(GMEM_MOVEABLE | GMEM_DDESHARE, ClipboardBlockBytes(text)));
    if (!block) {
        return false;
    }
    auto* copy = static_cast<wchar_t*>(GlobalLock(block.get()));
    if (copy == nullptr) {
        return false;
    }
    lstrcpyW(copy, text);
    GlobalUnlock(block.get());

    // Opened for no window, EmptyClipboard leaves no owner and Windows then
    // refuses SetClipboardData.
    const OpenedClipboard clipboard(owner);
    if (!clipboard.opened() || !EmptyClipboard()) {
        return false;
    }
    if (SetClipboardData(CF_UNICODETEXT, block.get()) == nullptr) {
        return false;
    }
    block.release();
    return true;
}
