// The wizard scenarios' shared fixture: the texts and layouts of the six pages
// as a user sees them, and the steps that walk the real setup through them.
#pragma once

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "setup/resource_ids.h"
#include "testbed/probes/accessibility_probe.h"
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
constexpr wchar_t kApplicationMutex[] = L"Portvane_Mutex";
constexpr wchar_t kLogViewerName[] = L"インストールログ";

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
    for (int id : {IDCANCEL, IDC_BACK, IDC_NEXT, IDC_PAGE_MESSAGE, IDC_VIEWER, IDC_DISAGREE,
                   IDC_AGREE, IDC_LICENSE_PROMPT, IDC_LAUNCH_CHECK, IDC_COPY_LOG}) {
        const wchar_t state = !IsControlVisible(dialog, id)  ? L'h'
                              : IsControlEnabled(dialog, id) ? L'+'
                                                             : L'-';
        layout += (layout.empty() ? L"" : L" ") + std::to_wstring(id) + state;
    }
    return layout;
}

// Rich Edit ends its paragraphs in "\r\n", where the log's lines end in "\n".
inline std::wstring WithoutCarriageReturns(std::wstring text) {
    text.erase(std::remove(text.begin(), text.end(), L'\r'), text.end());
    return text;
}

// The id of the control with the keyboard focus in the dialog's thread, or 0.
inline int FocusedControlId(HWND dialog) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    return info.hwndFocus != nullptr ? GetDlgCtrlID(info.hwndFocus) : 0;
}

inline bool MutexExists(const wchar_t* name) {
    return ScopedKernelHandle(OpenMutexW(SYNCHRONIZE, FALSE, name)).valid();
}

// Whether the stand-in application starts within two seconds.
inline bool ApplicationStarts() {
    return WaitUntil([] { return MutexExists(kApplicationMutex); }, 2000);
}

// The stand-in application's window, or null.
inline HWND ApplicationWindow() {
    return FindWindowW(L"Portvane", L"Portvane");
}

struct AnnouncedSwitch {
    int command;           // posted as its button sends it; 0: the install worker's result
    WORD mnemonic;         // or, where given, the button's key typed with Alt
    const wchar_t* title;  // null: the result page
    int focus;             // the control with the focus after it, or 0
};

// To the result page by posted commands (a click would move the focus and
// raise events of its own): the focus stays on Cancel until the progress page
// drops it, and agreeing switches no page. Typed, Alt+A puts the focus on the
// agree button, which the confirmation page hides; Next's command then comes
// as Windows' dialog manager delivers Alt+N, with the focus left where it was
// (Wine's clicks Next, and so moves the focus to it first).
constexpr AnnouncedSwitch kAnnouncedWalk[] = {
    {IDC_NEXT, 0, kLicenceTitle, IDCANCEL},
    {IDC_AGREE, 0, kLicenceTitle, IDCANCEL},
    {IDC_NEXT, 0, kConfirmTitle, IDCANCEL},
    {IDC_BACK, 0, kLicenceTitle, IDCANCEL},
    {IDC_BACK, 0, kWelcomeTitle, IDCANCEL},
    {IDC_NEXT, 0, kLicenceTitle, IDCANCEL},
    {IDC_AGREE, 'A', kLicenceTitle, IDC_AGREE},
    {IDC_NEXT, 0, kConfirmTitle, IDC_NEXT},
    {IDC_NEXT, 0, kProgressTitle, 0},
    {0, 0, nullptr, IDC_NEXT},
};

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
        // A started application may hold its mutex before its window exists;
        // left running, it would refuse every later setup.
        HWND window = nullptr;
        if (MutexExists(kApplicationMutex) &&
            WaitUntil([&] { return (window = ApplicationWindow()) != nullptr; }, 10000)) {
            PostMessageW(window, WM_CLOSE, 0, 0);
            WaitUntil([] { return !MutexExists(kApplicationMutex); }, 10000);
        }
        SetupScenario::TearDown();
    }

    void StartWizard(const std::function<SetupProcess()>& launch = LaunchSetup) {
        setup_ = launch();
        wizard_ = WaitForDialog(setup_.processId, kCaptionText, kStartTimeoutMs);
        ASSERT_NE(nullptr, wizard_) << "the wizard did not open";
        ASSERT_TRUE(WaitForTitle(kWelcomeTitle, kStartTimeoutMs));
        SetForegroundWindow(wizard_);
    }

    bool WaitForTitle(const wchar_t* title, DWORD timeoutMs) {
        return WaitUntil([&] { return ControlText(wizard_, IDC_PAGE_TITLE) == title; }, timeoutMs);
    }

    // Clicks and waits for the page whose title is given.
    void ClickTo(int id, const wchar_t* title) {
        ASSERT_TRUE(Click(wizard_, id)) << "button " << id << " is disabled";
        ASSERT_TRUE(WaitForTitle(title, 10000)) << "button " << id << " did not lead on";
    }

    // Clicks a licence radio button: Next follows the agreement, the other button clears.
    void Choose(int id) {
        const bool agree = id == IDC_AGREE;
        ASSERT_TRUE(Click(wizard_, id));
        ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(wizard_, IDC_NEXT) == agree; }, 5000));
        EXPECT_EQ(agree ? kAgreedLayout : kLicenceLayout, Layout(wizard_));
        EXPECT_EQ(BST_UNCHECKED, CheckState(wizard_, agree ? IDC_DISAGREE : IDC_AGREE));
    }

    void PostCloseGestures() {
        for (const CloseGesture& gesture : kCloseGestures) {
            PostMessageW(wizard_, gesture.message, gesture.wParam, gesture.lParam);
        }
    }

    // The install worker's two result messages, stray: only the worker's own
    // report on the progress page may move the wizard on.
    void PostStrayResults() {
        PostMessageW(wizard_, WM_APP + 1, 0, 0);
        PostMessageW(wizard_, WM_APP + 2, 0, 0);
    }

    // Posted, as the dialog manager posts them, with stray result messages and,
    // when asked, the close gestures: the wizard stays open on the page as it
    // was, and shows no box.
    void ExpectIgnored(std::initializer_list<int> commands, bool closeGestures = false) {
        const std::wstring page = ControlText(wizard_, IDC_PAGE_TITLE) + L" " + Layout(wizard_);
        for (int id : commands) {
            PostMessageW(wizard_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        }
        PostStrayResults();
        if (closeGestures) {
            PostCloseGestures();
        }
        Sleep(kSettleMs);
        ASSERT_TRUE(IsWindow(wizard_)) << "the wizard ended";
        EXPECT_EQ(page, ControlText(wizard_, IDC_PAGE_TITLE) + L" " + Layout(wizard_));
        EXPECT_EQ(nullptr, WaitForMessageBox(setup_.processId, 0, wizard_).window);
    }

    // From the welcome page to the licence page (1) or on to the confirmation page (2).
    void WalkForward(int pages) {
        if (pages >= 1) {
            ClickTo(IDC_NEXT, kLicenceTitle);
        }
        if (pages >= 2) {
            Choose(IDC_AGREE);
            ClickTo(IDC_NEXT, kConfirmTitle);
        }
    }

    void WaitForResult(const wchar_t* resultTitle) {
        ASSERT_TRUE(
            WaitUntil([&] { return ControlText(wizard_, IDC_PAGE_TITLE) != kProgressTitle; },
                      kInstallTimeoutMs));
        ASSERT_EQ(resultTitle, ControlText(wizard_, IDC_PAGE_TITLE))
            << "the log shown: " << ::testing::PrintToString(ControlText(wizard_, IDC_VIEWER));
    }

    // A whole installation from the welcome page.
    void InstallTo(const wchar_t* resultTitle) {
        WalkForward(2);
        ClickTo(IDC_NEXT, kProgressTitle);
        WaitForResult(resultTitle);
    }

    // Keys typed into the active window of the setup; the focused control's id
    // once it is `id`, or after five seconds.
    int Type(std::initializer_list<WORD> keys, int id) {
        for (const WORD key : keys) {
            INPUT strokes[2] = {};
            strokes[0].type = strokes[1].type = INPUT_KEYBOARD;
            strokes[0].ki.wVk = strokes[1].ki.wVk = key;
            strokes[1].ki.dwFlags = KEYEVENTF_KEYUP;
            SendInput(2, strokes, sizeof(INPUT));
        }
        WaitUntil([&] { return FocusedControlId(wizard_) == id; }, 5000);
        return FocusedControlId(wizard_);
    }

    // At `dpi`, to the installation's result without the mouse: the agree key
    // and the arrows keep to the radio pair, Tab reaches Next and the licence,
    // whose text Page Down scrolls; nothing disabled keeps the focus.
    void InstallByKeyboard(DWORD dpi, const wchar_t* resultTitle) {
        const std::wstring shot = L"-" + std::to_wstring(dpi) + L"dpi";
        SetLogPixels(dpi);
        StartWizard();
        SetLogPixels(96);
        ASSERT_FALSE(HasFatalFailure());
        SaveScreenshot(wizard_, L"page-1-welcome" + shot);
        ASSERT_EQ(IDC_NEXT, Type({VK_TAB}, IDC_NEXT)) << "Back is disabled";
        ASSERT_EQ(IDCANCEL, Type({VK_RETURN}, IDCANCEL));
        ASSERT_TRUE(WaitForTitle(kLicenceTitle, 5000));
        ASSERT_EQ(IDC_AGREE, Type({'A'}, IDC_AGREE));
        ASSERT_EQ(IDC_DISAGREE, Type({VK_DOWN}, IDC_DISAGREE)) << "the arrows left the pair";
        ASSERT_EQ(IDC_AGREE, Type({VK_UP}, IDC_AGREE));
        // The focus moves before the click that the arrow brings is handled.
        WaitUntil([&] { return Layout(wizard_) == kAgreedLayout; }, 5000);
        EXPECT_EQ(kAgreedLayout, Layout(wizard_));
        ASSERT_EQ(IDC_VIEWER, Type({VK_TAB, VK_TAB, VK_TAB, VK_TAB, VK_NEXT, VK_DOWN}, IDC_VIEWER));
        EXPECT_TRUE(WaitUntil(
            [&] { return SendDlgItemMessageW(wizard_, IDC_VIEWER, EM_GETFIRSTVISIBLELINE, 0, 0); },
            5000))
            << "the licence did not scroll";
        SaveScreenshot(wizard_, L"page-2-license" + shot);
        // The checked radio button is the pair's tab stop.
        ASSERT_EQ(IDC_NEXT, Type({VK_TAB, VK_TAB, VK_TAB, VK_TAB}, IDC_NEXT));
        Type({VK_SPACE}, IDC_NEXT);
        ASSERT_TRUE(WaitForTitle(kConfirmTitle, 5000));
        SaveScreenshot(wizard_, L"page-3-confirm" + shot);
        EXPECT_EQ(0, Type({VK_RETURN}, 0));
        SaveScreenshot(wizard_, L"page-4-progress" + shot);
        WaitForResult(resultTitle);
        EXPECT_EQ(IDC_NEXT, Type({}, IDC_NEXT)) << "Close has the focus";
        SaveScreenshot(
            wizard_,
            L"page-" + std::wstring(resultTitle == kDoneTitle ? L"5-done" : L"6-failed") + shot);
    }

    // What a screen reader hears on the walk, under the injector, which keeps
    // annotations as Windows does: the page texts are a polite live region;
    // after each switch the title, then the shown message or prompt, raise a
    // live-region event named by their new texts; the focus ends on a shown,
    // enabled control, and no focus event names a control whose focus stayed.
    void WalkAnnounced(const wchar_t* resultTitle) {
        SetupProcess launched =
            LaunchSetupUnderInjector(L"count", L"C:\\portvane-calls.log", true);
        AccessibilityProbe probe(launched.processId);
        ASSERT_NO_FATAL_FAILURE(StartWizard([&] { return std::move(launched); }));
        for (const int id : {IDC_PAGE_TITLE, IDC_PAGE_MESSAGE, IDC_LICENSE_PROMPT}) {
            EXPECT_EQ(kPoliteLiveSetting, ReadLiveSetting(GetDlgItem(wizard_, id))) << id;
        }
        HWND focused = nullptr;
        ExpectAnnounced(probe, kWelcomeTitle, true, focused);
        for (const AnnouncedSwitch& step : kAnnouncedWalk) {
            const wchar_t* title = step.title != nullptr ? step.title : resultTitle;
            SCOPED_TRACE(testing::Message() << "command " << step.command << " to " << title);
            const bool switches = ControlText(wizard_, IDC_PAGE_TITLE) != title;
            if (step.mnemonic != 0) {
                TypeWithAlt(step.mnemonic);
            } else if (step.command != 0) {
                if (step.command == IDC_AGREE) {
                    SendDlgItemMessageW(wizard_, IDC_AGREE, BM_SETCHECK, BST_CHECKED, 0);
                }
                PostMessageW(wizard_, WM_COMMAND, MAKEWPARAM(step.command, BN_CLICKED), 0);
            }
            ASSERT_TRUE(WaitForTitle(title, kInstallTimeoutMs));
            WaitUntil([&] { return FocusedControlId(wizard_) == step.focus; }, 5000);
            ExpectAnnounced(probe, title, switches, focused);
            EXPECT_EQ(step.focus, FocusedControlId(wizard_));
            EXPECT_TRUE(step.focus == 0 || (IsControlEnabled(wizard_, step.focus) &&
                                            IsControlVisible(wizard_, step.focus)));
        }
        EXPECT_EQ(L"", ReadAccessibleText(GetDlgItem(wizard_, IDCANCEL)).description)
            << "a page's text on Cancel";
    }

    // The events since the last call: two live-region events where the page
    // switched, none else; the viewer's name change on the failure page; a
    // focus event only where the focus moved; no alert.
    void ExpectAnnounced(AccessibilityProbe& probe, const wchar_t* title, bool switched,
                         HWND& focused) {
        WaitUntil([&] { return probe.Count() >= (switched ? 2u : 0u); }, 10000);
        Sleep(kSettleMs);
        HWND viewer = GetDlgItem(wizard_, IDC_VIEWER);
        const int message =
            IsControlVisible(wizard_, IDC_PAGE_MESSAGE) ? IDC_PAGE_MESSAGE : IDC_LICENSE_PROMPT;
        std::vector<std::pair<HWND, std::wstring>> live;
        int viewerNamed = 0;
        for (const AccessibleEvent& event : probe.Take()) {
            if (event.event == kLiveRegionChanged) {
                live.emplace_back(event.window, event.text.name);
            } else if (event.event == EVENT_OBJECT_FOCUS) {
                EXPECT_NE(focused, event.window) << "a focus event where the focus stayed";
                focused = event.window;
            } else if (event.event == EVENT_OBJECT_NAMECHANGE && event.window == viewer) {
                EXPECT_EQ(kLogViewerName, event.text.name);
                ++viewerNamed;
            }
            EXPECT_NE(EVENT_SYSTEM_ALERT, event.event);
        }
        const decltype(live) expected = {
            {GetDlgItem(wizard_, IDC_PAGE_TITLE), title},
            {GetDlgItem(wizard_, message), ControlText(wizard_, message)}};
        EXPECT_EQ(switched ? expected : decltype(live)(), live);
        EXPECT_EQ(switched && title == std::wstring(kFailedTitle) ? 1 : 0, viewerNamed);
    }

    // The key typed with Alt, as a mnemonic.
    static void TypeWithAlt(WORD key) {
        INPUT strokes[4] = {};
        for (INPUT& stroke : strokes) {
            stroke.type = INPUT_KEYBOARD;
        }
        strokes[0].ki.wVk = strokes[3].ki.wVk = VK_MENU;
        strokes[1].ki.wVk = strokes[2].ki.wVk = key;
        strokes[2].ki.dwFlags = strokes[3].ki.dwFlags = KEYEVENTF_KEYUP;
        SendInput(4, strokes, sizeof(INPUT));
    }

    void StartShellWindow() {
        shell_ = LaunchProgram(BuildPath(L"testbed\\shell_window_stub.exe"));
        ASSERT_TRUE(WaitUntil([] { return GetShellWindow() != nullptr; }, 10000))
            << "the test shell did not register its window";
    }

    // 0 after an installation, 1603 after the failure page.
    void CloseAndExpectExit(DWORD exitCode = 0) {
        ASSERT_TRUE(Click(wizard_, IDC_NEXT));
        EXPECT_EQ(exitCode, WaitForExit(setup_, kStartTimeoutMs));
        EXPECT_EQ(stagingBefore_, StagingFolders()) << "the staging folder must be removed";
    }

    HWND wizard_ = nullptr;
    SetupProcess shell_;
};
