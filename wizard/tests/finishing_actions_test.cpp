// The finishing actions on Wine's own clipboard and process tokens.
#include "wizard/finishing_actions.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/scoped_handle.h"
#include "testbed/driver.h"

namespace {

// A window of this process that is the desktop's shell window while it lives.
class ShellWindowOfThisProcess {
  public:
    ShellWindowOfThisProcess() {
        window_ = CreateWindowExW(0, L"STATIC", L"shell", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
        using SetShellWindowFunction = BOOL(WINAPI*)(HWND);
        auto setShellWindow = reinterpret_cast<SetShellWindowFunction>(
            reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32"), "SetShellWindow")));
        registered_ = setShellWindow != nullptr && setShellWindow(window_);
    }
    ~ShellWindowOfThisProcess() { DestroyWindow(window_); }
    bool registered() const { return registered_ && GetShellWindow() == window_; }

  private:
    HWND window_ = nullptr;
    bool registered_ = false;
};

HWND PopupWindow(const wchar_t* title) {
    return CreateWindowExW(0, L"STATIC", title, WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr,
                           nullptr);
}

long long AvailableAddressSpace() {
    MEMORYSTATUSEX status = {};
    status.dwLength = sizeof(status);
    GlobalMemoryStatusEx(&status);
    return static_cast<long long>(status.ullAvailVirtual);
}

}  // namespace

// The window given owns the clipboard: Windows refuses the data of an ownerless one.
TEST(ClipboardCopy, BlockHoldsTheTextAndItsTerminatorAndEachCopyReplacesTheLast) {
    HWND owner = PopupWindow(L"wizard");
    const std::wstring log =
        L"インストールログ\nOS Version: Major 6 Minor 1\nCPU: x64\n"
        L"C:\\Program Files (x86)\\ORBEK\\Portvane\\Portvane.exe をコピーできません。\n"
        L"OS Message:アクセスが拒否されました。\r\n\n";
    SIZE_T bytes = 0;
    ASSERT_TRUE(CopyTextToClipboard(owner, log.c_str()));
    EXPECT_EQ(owner, GetClipboardOwner());
    EXPECT_EQ(log, ClipboardText(&bytes));
    EXPECT_EQ(log.size() * 2 + 2, bytes);
    ASSERT_TRUE(CopyTextToClipboard(owner, L""));
    EXPECT_EQ(L"", ClipboardText(&bytes));
    EXPECT_EQ(2u, bytes);
    DestroyWindow(owner);
}

TEST(ClipboardCopy, ClipboardHeldElsewhereFailsAndLeaksNoBlock) {
    HWND owner = PopupWindow(L"wizard");
    ASSERT_TRUE(CopyTextToClipboard(owner, L"kept"));
    ScopedKernelHandle opened(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    ScopedKernelHandle done(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    bool holding = false;
    // Held for a window: Wine lets any thread share a clipboard opened for none.
    std::thread holder([&] {
        HWND window = PopupWindow(L"holder");
        holding = window != nullptr && OpenClipboard(window);
        SetEvent(opened.get());
        WaitForSingleObject(done.get(), INFINITE);
        CloseClipboard();
        DestroyWindow(window);
    });
    // Wine's clipboard manager asks the owner's thread before it lets go, as the
    // wizard's thread answers it.
    HANDLE waitedFor = opened.get();
    while (MsgWaitForMultipleObjects(1, &waitedFor, FALSE, 5000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            DispatchMessageW(&message);
        }
    }
    EXPECT_TRUE(holding);
    // Each failed copy waits a second for the clipboard; one that kept its block
    // of 64 MiB would take that from the address space for good.
    const std::wstring huge((1 << 25) - 1, L'x');
    const long long availableBefore = AvailableAddressSpace();
    int copied = 0;
    for (int attempt = 0; attempt < 3; ++attempt) {
        copied += CopyTextToClipboard(owner, huge.c_str());
    }
    const long long lost = availableBefore - AvailableAddressSpace();
    SetEvent(done.get());
    holder.join();
    EXPECT_EQ(0, copied);
    EXPECT_LT(lost, 1LL << 26);
    const std::wstring large((1 << 19) - 1, L'x');
    EXPECT_EQ(L"kept", ClipboardText());
    EXPECT_TRUE(CopyTextToClipboard(owner, large.c_str()));
    EXPECT_EQ(large, ClipboardText());
    DestroyWindow(owner);
}

TEST(DesktopUserLaunch, FailureKeepsTheFailingCallsErrorAfterTheHandlesAreClosed) {
    if (GetShellWindow() == nullptr) {
        SetLastError(ERROR_SUCCESS);
        EXPECT_FALSE(LaunchAsDesktopUser(L"C:\\windows\\system32\\hostname.exe")) << "no shell";
        EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
    }
    ShellWindowOfThisProcess shell;
    ASSERT_TRUE(shell.registered());
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(LaunchAsDesktopUser(L"C:\\no such folder\\Portvane.exe"));
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) << error;
}
