#include "wizard/finishing_actions.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/scoped_handle.h"

namespace {

struct ClipboardBlock {
    SIZE_T bytes = 0;
    std::wstring text;
};

ClipboardBlock ReadClipboardBlock() {
    ClipboardBlock block;
    if (!OpenClipboard(nullptr)) {
        ADD_FAILURE() << "clipboard not opened";
        return block;
    }
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (data != nullptr) {
        block.bytes = GlobalSize(data);
        if (const auto* text = static_cast<const wchar_t*>(GlobalLock(data))) {
            block.text = text;
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return block;
}

// A window that is the desktop's shell window while it lives.
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

// Keeps the clipboard open on a thread of its own until released.
class ClipboardHeldByAnotherThread {
  public:
    ClipboardHeldByAnotherThread()
        : opened_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          done_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_(CreateThread(nullptr, 0, Hold, this, 0, nullptr)) {
        WaitForSingleObject(opened_.get(), 5000);
    }
    ~ClipboardHeldByAnotherThread() { release(); }
    bool holding() const { return holding_; }
    void release() {
        SetEvent(done_.get());
        WaitForSingleObject(thread_.get(), 5000);
    }

  private:
    static DWORD WINAPI Hold(void* self) {
        auto* holder = static_cast<ClipboardHeldByAnotherThread*>(self);
        // Opened for a window: Wine lets any thread share a clipboard opened for none.
        HWND window = CreateWindowExW(0, L"STATIC", L"holder", WS_POPUP, 0, 0, 1, 1, nullptr,
                                      nullptr, nullptr, nullptr);
        holder->holding_ = window != nullptr && OpenClipboard(window) != FALSE;
        SetEvent(holder->opened_.get());
        WaitForSingleObject(holder->done_.get(), INFINITE);
        if (holder->holding_) {
            CloseClipboard();
        }
        DestroyWindow(window);
        return 0;
    }

    bool holding_ = false;  // before thread_: the thread writes it
    ScopedKernelHandle opened_;
    ScopedKernelHandle done_;
    ScopedKernelHandle thread_;
};

}  // namespace

TEST(ClipboardCopy, BlockHoldsTwoBytesPerCharacterAndTheTerminator) {
    EXPECT_EQ(2u, ClipboardBlockBytes(L""));
    EXPECT_EQ(12u, ClipboardBlockBytes(L"abcde"));
    EXPECT_EQ(18u, ClipboardBlockBytes(L"インストールログ"));
}

TEST(ClipboardCopy, LogTextComesBackFromTheClipboardUnchanged) {
    const std::wstring log =
        L"インストールログ\nOS Version: Major 6 Minor 1\nCPU: x64\n"
        L"C:\\Program Files (x86)\\ORBEK\\Portvane\\Portvane.exe をコピーできません。\n"
        L"OS Message:アクセスが拒否されました。\r\n\n";
    ASSERT_TRUE(CopyTextToClipboard(log.c_str()));
    const ClipboardBlock block = ReadClipboardBlock();
    EXPECT_EQ(log, block.text);
    EXPECT_EQ(log.size() * 2 + 2, block.bytes);
}

TEST(ClipboardCopy, EachCopyReplacesTheWholeContentEvenWithEmptyText) {
    ASSERT_TRUE(CopyTextToClipboard(L"first text"));
    ASSERT_TRUE(CopyTextToClipboard(L""));
    const ClipboardBlock block = ReadClipboardBlock();
    EXPECT_EQ(L"", block.text);
    EXPECT_EQ(2u, block.bytes);
}

TEST(ClipboardCopy, ClipboardHeldElsewhereFailsAndLeaksNoBlock) {
    ASSERT_TRUE(CopyTextToClipboard(L"kept"));
    ClipboardHeldByAnotherThread holder;
    ASSERT_TRUE(holder.holding());
    // 2,100 blocks of 1 MiB would not fit the 32-bit address space if a failed
    // copy kept its block.
    const std::wstring large((1 << 19) - 1, L'x');
    for (int attempt = 0; attempt < 2100; ++attempt) {
        ASSERT_FALSE(CopyTextToClipboard(large.c_str())) << attempt;
    }
    holder.release();
    EXPECT_EQ(L"kept", ReadClipboardBlock().text);
    EXPECT_TRUE(CopyTextToClipboard(large.c_str()));
    EXPECT_EQ(large, ReadClipboardBlock().text);
}

TEST(DesktopUserLaunch, WithoutAShellWindowFailsAndReportsWhy) {
    if (GetShellWindow() != nullptr) {
        GTEST_SKIP() << "a desktop shell runs here";
    }
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(LaunchAsDesktopUser(L"C:\\windows\\system32\\hostname.exe"));
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), GetLastError());
}

TEST(DesktopUserLaunch, FailingStartKeepsItsErrorAfterTheHandlesAreClosed) {
    ShellWindowOfThisProcess shell;
    ASSERT_TRUE(shell.registered());
    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(LaunchAsDesktopUser(L"C:\\no such folder\\Portvane.exe"));
    const DWORD error = GetLastError();
    EXPECT_TRUE(error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND) << error;
}
