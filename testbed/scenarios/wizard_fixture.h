// The wizard scenarios' shared fixture: the texts and layouts of the six pages
// as a user sees them, and the steps that walk the real setup through them.
#pragma once

#include <algorithm>
#include <initializer_list>
#include <string>

#include "testbed/scenarios/startup_fixture.h"


constexpr DWORD kInstallTimeoutMs = 120000;
constexpr DWORD kSettleMs = 300;

constexpr wchar_t kWelcomeTitle[] = L"Portvane Ver.1.0.0 セットアップ ウィザードへようこそ";
constexpr wchar_t kWelcomeMessageStart[] =
    L"Portvane Ver.1.0.0 をコンピューターにインストールします。";
constexpr wchar_t kLicenceTitle[] = L"ライセンス条項";
constexpr wchar_t kLicencePrompt[] =
    L"ライセンス条項をお読みください。以下の条件に同意される場合は[同意する]をクリックしてから"
    L"[次へ]をクリックして下さい。その他の場合は[キャンセル]をクリックしてください。";
constexpr wchar_t kConfirmTitle[] = L"インストールの確認";
constexpr wchar_t kConfirmMessage[] =
    L"Portvane Ver.1.0.0 をインストールする準備ができました。\n\n\n"
    L"[次へ]をクリックしてインストールを開始して下さい。";
constexpr wchar_t kProgressTitle[] = L"Portvane Ver.1.0.0 をインストールしています。";
constexpr wchar_t kProgressMessage[] = L"しばらくお待ちください...";
constexpr wchar_t kDoneTitle[] = L"インストールが完了しました。";
constexpr wchar_t kDoneMessage[] =
    L"Portvane Ver.1.0.0 "
    L"は正しくインストールされました。\n\n終了するには、[閉じる]をクリックして下さい。";
constexpr wchar_t kFailedTitle[] = L"インストールが失敗しました。";
constexpr wchar_t kFailedMessage[] =
    L"Portvane Ver.1.0.0 のインストール中にエラーが発生しました。\n\n"
    L"終了するには、[閉じる]をクリックして下さい。";
constexpr wchar_t kNextLabel[] = L"次へ(&N) >";
constexpr wchar_t kCloseLabel[] = L"閉じる(&C)";
constexpr wchar_t kLaunchLabel[] = L"Portvane を起動する";
constexpr wchar_t kCopyDone[] = L"クリップボードへコピーしました。";
constexpr wchar_t kCopyFailed[] = L"クリップボードへのコピーに失敗しました。";

enum Control {
    kCancel = IDCANCEL,
    kTitle = 1001,
    kMessage = 1002,
    kBack = 1003,
    kNext = 1004,
    kViewer = 1005,
    kDisagree = 1006,
    kAgree = 1007,
    kPrompt = 1008,
    kLaunch = 1009,
    kStartMenu = 1010,
    kDesktop = 1011,
    kCopy = 1012,
};

// Visible controls as "+" (enabled) or "-" (disabled), hidden ones as "h".
constexpr wchar_t kWelcomeLayout[] = L"2+ 1003- 1004+ 1002+ 1005h 1006h 1007h 1008h 1009h 1012h";
constexpr wchar_t kLicenceLayout[] = L"2+ 1003+ 1004- 1002h 1005+ 1006+ 1007+ 1008+ 1009h 1012h";
constexpr wchar_t kAgreedLayout[] = L"2+ 1003+ 1004+ 1002h 1005+ 1006+ 1007+ 1008+ 1009h 1012h";
constexpr wchar_t kConfirmLayout[] = L"2+ 1003+ 1004+ 1002+ 1005h 1006h 1007h 1008h 1009h 1012h";
constexpr wchar_t kProgressLayout[] = L"2- 1003- 1004- 1002+ 1005h 1006h 1007h 1008h 1009h 1012h";
constexpr wchar_t kDoneLayout[] = L"2- 1003- 1004+ 1002+ 1005h 1006h 1007h 1008h 1009+ 1012h";
constexpr wchar_t kFailedLayout[] = L"2- 1003- 1004+ 1002+ 1005+ 1006h 1007h 1008h 1009h 1012+";

inline std::wstring Layout(HWND dialog) {
    std::wstring layout;
    for (int id :
         {kCancel, kBack, kNext, kMessage, kViewer, kDisagree, kAgree, kPrompt, kLaunch, kCopy}) {
        const wchar_t state = !IsControlVisible(dialog, id)  ? L'h'
                              : IsControlEnabled(dialog, id) ? L'+'
                                                             : L'-';
        layout += (layout.empty() ? L"" : L" ") + std::to_wstring(id) + state;
    }
    return layout;
}

inline int FocusedControlId(HWND dialog) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) ||
        info.hwndFocus == nullptr) {
        return 0;
    }
    return GetDlgCtrlID(info.hwndFocus);
}

// Rich Edit reports its paragraph ends as "\r\n"; the log's lines end in "\n".
inline std::wstring WithLineFeeds(std::wstring text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'\r') {
            if (i + 1 < text.size() && text[i + 1] == L'\n') {
                ++i;
            }
            out += L'\n';
        } else {
            out += text[i];
        }
    }
    return out;
}

inline std::wstring ClipboardText() {
    std::wstring text;
    if (!OpenClipboard(nullptr)) {
        return L"<clipboard not opened>";
    }
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    if (const auto* chars =
            data != nullptr ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr) {
        text = chars;
        GlobalUnlock(data);
    }
    CloseClipboard();
    return text;
}

inline bool MutexExists(const wchar_t* name) {
    ScopedKernelHandle held(OpenMutexW(SYNCHRONIZE, FALSE, name));
    return held.valid();
}

// The stand-in application's window, or null.
inline HWND ApplicationWindow() {
    return FindWindowW(L"Portvane", L"Portvane");
}

inline std::wstring ImagePathOfWindow(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    ScopedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    wchar_t path[MAX_PATH] = L"";
    DWORD size = MAX_PATH;
    if (!process || !QueryFullProcessImageNameW(process.get(), 0, path, &size)) {
        return L"";
    }
    return path;
}

inline void EndApplication() {
    if (HWND window = ApplicationWindow()) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        WaitUntil([] { return !MutexExists(L"Portvane_Mutex"); }, 10000);
    }
}

struct DesktopSearch {
    HWND found = nullptr;
};

inline BOOL CALLBACK FindWizardOnDesktop(HWND window, LPARAM context) {
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    // IsWindowVisible answers for this desktop only; the style tells the truth.
    if (wcscmp(className, L"#32770") == 0 && (GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) &&
        WindowText(window) == kCaptionText) {
        reinterpret_cast<DesktopSearch*>(context)->found = window;
        return FALSE;
    }
    return TRUE;
}

// Runs the setup on a Wine virtual desktop of the given size; the wizard, or null.
inline HWND StartWizardOnDesktop(const std::wstring& desktopName, int width, int height) {
    const std::wstring arguments = L"/desktop=" + desktopName + L"," + std::to_wstring(width) +
                                   L"x" + std::to_wstring(height) + L" \"" +
                                   BuildPath(L"Portvane_Setup.exe") + L"\"";
    const SetupProcess explorer = LaunchProgram(L"C:\\windows\\explorer.exe", arguments);
    DesktopSearch search;
    WaitUntil(
        [&] {
            HDESK desktop = OpenDesktopW(desktopName.c_str(), 0, FALSE, DESKTOP_ENUMERATE);
            if (desktop != nullptr) {
                EnumDesktopWindows(desktop, FindWizardOnDesktop, reinterpret_cast<LPARAM>(&search));
                CloseDesktop(desktop);
            }
            return search.found != nullptr;
        },
        kStartTimeoutMs);
    return search.found;
}

struct CloseGesture {
    const char* name;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

// What the dialog manager receives from the close box, Alt+F4, Escape and a
// direct close; Wine turns every one into command 2.
constexpr CloseGesture kCloseGestures[] = {
    {"close box", WM_SYSCOMMAND, SC_CLOSE, 0},
    {"WM_CLOSE", WM_CLOSE, 0, 0},
    {"Escape", WM_KEYDOWN, VK_ESCAPE, 1},
    {"Alt+F4", WM_SYSKEYDOWN, VK_F4, LPARAM{1} | (LPARAM{1} << 29)},
};

class WizardScenario : public SetupScenario {
protected:
    void TearDown() override {
        KillIfRunning(shell_);
        EndApplication();
        SetupScenario::TearDown();
    }

    void StartWizard() {
        setup_ = LaunchSetup();
        wizard_ = WaitForDialog(setup_.processId, kCaptionText, kStartTimeoutMs);
        ASSERT_NE(nullptr, wizard_) << "the wizard did not open";
        ASSERT_TRUE(WaitForTitle(kWelcomeTitle, kStartTimeoutMs));
    }

    bool WaitForTitle(const wchar_t* title, DWORD timeoutMs) {
        return WaitUntil([&] { return ControlText(wizard_, kTitle) == title; }, timeoutMs);
    }

    // Clicks and waits for the page whose title is given.
    void ClickTo(int id, const wchar_t* title, DWORD timeoutMs = 10000) {
        ASSERT_TRUE(Click(wizard_, id)) << "button " << id << " is disabled";
        ASSERT_TRUE(WaitForTitle(title, timeoutMs)) << "button " << id << " did not lead on";
    }

    // Posted, as the dialog manager posts it; the page must stay as it was.
    void ExpectCommandIgnored(int id) {
        const std::wstring title = ControlText(wizard_, kTitle);
        const std::wstring layout = Layout(wizard_);
        PostMessageW(wizard_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        Sleep(kSettleMs);
        ASSERT_TRUE(IsWindow(wizard_)) << "command " << id << " ended the wizard";
        EXPECT_EQ(title, ControlText(wizard_, kTitle)) << "command " << id;
        EXPECT_EQ(layout, Layout(wizard_)) << "command " << id;
    }

    void WalkToConfirmation() {
        ClickTo(kNext, kLicenceTitle);
        ASSERT_TRUE(Click(wizard_, kAgree));
        ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(wizard_, kNext); }, 5000));
        ClickTo(kNext, kConfirmTitle);
    }

    // A whole installation from the welcome page; false when it did not end.
    void InstallTo(const wchar_t* resultTitle) {
        WalkToConfirmation();
        ClickTo(kNext, kProgressTitle);
        ASSERT_TRUE(WaitUntil([&] { return ControlText(wizard_, kTitle) != kProgressTitle; },
                              kInstallTimeoutMs));
        ASSERT_EQ(resultTitle, ControlText(wizard_, kTitle));
    }

    void StartShellWindow() {
        shell_ = LaunchProgram(BuildPath(L"testbed\\shell_window_stub.exe"));
        ASSERT_TRUE(WaitUntil([] { return GetShellWindow() != nullptr; }, 10000))
            << "the test shell did not register its window";
    }

    void CloseAndExpectExit() {
        ASSERT_TRUE(Click(wizard_, kNext));
        EXPECT_EQ(0u, WaitForExit(setup_, kStartTimeoutMs));
        EXPECT_EQ(stagingBefore_, StagingFolders()) << "the staging folder must be removed";
    }

    void ExpectNoMessageBox() {
        EXPECT_EQ(nullptr, WaitForMessageBox(setup_.processId, 1000, wizard_).window);
    }

    HWND wizard_ = nullptr;
    SetupProcess shell_;
};
