#include "wizard/wizard_dialog.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "platform/scoped_handle.h"
#include "platform/system_library.h"
#include "setup/process_state.h"
#include "setup/resource_ids.h"

namespace {

std::wstring ClipboardText() {
    std::wstring text;
    if (OpenClipboard(nullptr)) {
        if (HANDLE data = GetClipboardData(CF_UNICODETEXT)) {
            if (const auto* chars = static_cast<const wchar_t*>(GlobalLock(data))) {
                text = chars;
                GlobalUnlock(data);
            }
        }
        CloseClipboard();
    }
    return text;
}

void PutOnClipboard(const wchar_t* text) {
    const SIZE_T bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    ScopedGlobalMemory block(GlobalAlloc(GMEM_MOVEABLE, bytes));
    ASSERT_TRUE(block);
    memcpy(GlobalLock(block.get()), text, bytes);
    GlobalUnlock(block.get());
    ASSERT_TRUE(OpenClipboard(nullptr));
    EmptyClipboard();
    if (SetClipboardData(CF_UNICODETEXT, block.get()) != nullptr) {
        block.release();
    }
    CloseClipboard();
}

// Closes any message box the wizard opens, so that a command that should have
// done nothing fails the test instead of hanging it.
class MessageBoxCloser {
  public:
    explicit MessageBoxCloser(HWND owner)
        : owner_(owner),
          stop_(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
          thread_(CreateThread(nullptr, 0, Watch, this, 0, nullptr)) {}
    ~MessageBoxCloser() {
        SetEvent(stop_.get());
        WaitForSingleObject(thread_.get(), 5000);
    }
    bool closedOne() const { return closed_; }

  private:
    static DWORD WINAPI Watch(void* self) {
        auto* closer = static_cast<MessageBoxCloser*>(self);
        while (WaitForSingleObject(closer->stop_.get(), 100) == WAIT_TIMEOUT) {
            HWND box = FindWindowExW(nullptr, nullptr, L"#32770", nullptr);
            for (; box != nullptr; box = FindWindowExW(nullptr, box, L"#32770", nullptr)) {
                if (box != closer->owner_ && GetWindow(box, GW_OWNER) == closer->owner_) {
                    closer->closed_ = true;
                    PostMessageW(box, WM_COMMAND, IDOK, 0);
                }
            }
        }
        return 0;
    }

    HWND owner_;
    std::atomic<bool> closed_{false};
    ScopedKernelHandle stop_;
    ScopedKernelHandle thread_;
};

// The wizard of the setup's own template, modeless so the test drives it; the
// staging folder is empty, so the viewer stays empty.
class WizardDialog : public testing::Test {
  protected:
    static void SetUpTestSuite() { richEdit_ = LoadSystemLibrary(L"Riched20.dll"); }
    static void TearDownTestSuite() { FreeLibrary(richEdit_); }

    void SetUp() override {
        ASSERT_NE(nullptr, richEdit_);
        g_currentPage = 1;
        dialog_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_WIZARD),
                                     nullptr, WizardDialogProc, 0);
        ASSERT_NE(nullptr, dialog_);
    }
    void TearDown() override { DestroyWindow(dialog_); }

    void Command(int id) {
        SendMessageW(dialog_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED),
                     reinterpret_cast<LPARAM>(GetDlgItem(dialog_, id)));
    }
    std::wstring Title() const {
        wchar_t text[256] = L"";
        GetDlgItemTextW(dialog_, IDC_PAGE_TITLE, text, 256);
        return text;
    }

    static HMODULE richEdit_;
    HWND dialog_ = nullptr;
};

HMODULE WizardDialog::richEdit_ = nullptr;

}  // namespace

TEST_F(WizardDialog, CommandOfTheDisabledBackButtonLeavesTheWelcomePage) {
    ASSERT_FALSE(IsWindowEnabled(GetDlgItem(dialog_, IDC_BACK)));
    const std::wstring welcome = Title();
    Command(IDC_BACK);
    EXPECT_EQ(1, g_currentPage);
    EXPECT_EQ(welcome, Title());
}

TEST_F(WizardDialog, CommandOfTheHiddenCopyButtonCopiesNothing) {
    // Until the failure page the copy button is hidden, and the worker may be
    // writing the log it would copy.
    ASSERT_FALSE(GetWindowLongW(GetDlgItem(dialog_, IDC_COPY_LOG), GWL_STYLE) & WS_VISIBLE);
    PutOnClipboard(L"kept");
    {
        MessageBoxCloser closer(dialog_);
        Command(IDC_COPY_LOG);
        EXPECT_FALSE(closer.closedOne()) << "the copy reported itself";
    }
    EXPECT_EQ(L"kept", ClipboardText());
}

TEST_F(WizardDialog, CommandOfTheHiddenAgreeButtonLeavesNextAsItIs) {
    // On the welcome page Next is enabled; the agreement buttons belong to page 2.
    ASSERT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDC_NEXT)));
    Command(IDC_DISAGREE);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog_, IDC_NEXT)));
}
