// The wizard end to end on the real setup under Wine: its six pages, navigation,
// the close guard of the progress page, a whole installation, and the two
// finishing actions.
#include <algorithm>
#include <initializer_list>
#include <string>

#include "testbed/scenarios/startup_fixture.h"

namespace {

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

std::wstring Layout(HWND dialog) {
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

int FocusedControlId(HWND dialog) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof(info);
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info) ||
        info.hwndFocus == nullptr) {
        return 0;
    }
    return GetDlgCtrlID(info.hwndFocus);
}

// Rich Edit reports its paragraph ends as "\r\n"; the log's lines end in "\n".
std::wstring WithLineFeeds(std::wstring text) {
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

std::wstring ClipboardText() {
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

// Wine keeps the icon static of a box without an icon visible, but empty.
bool ShowsIcon(HWND box) {
    for (int id : {0x14, 0x440}) {
        HWND icon = GetDlgItem(box, id);
        if (icon != nullptr && IsWindowVisible(icon) &&
            SendMessageW(icon, STM_GETICON, 0, 0) != 0) {
            return true;
        }
    }
    return false;
}

bool MutexExists(const wchar_t* name) {
    ScopedKernelHandle held(OpenMutexW(SYNCHRONIZE, FALSE, name));
    return held.valid();
}

// The stand-in application's window, or null.
HWND ApplicationWindow() {
    return FindWindowW(L"Portvane", L"Portvane");
}

std::wstring ImagePathOfWindow(HWND window) {
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

void EndApplication() {
    if (HWND window = ApplicationWindow()) {
        PostMessageW(window, WM_CLOSE, 0, 0);
        WaitUntil([] { return !MutexExists(L"Portvane_Mutex"); }, 10000);
    }
}

struct DesktopSearch {
    HWND found = nullptr;
};

BOOL CALLBACK FindWizardOnDesktop(HWND window, LPARAM context) {
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
HWND StartWizardOnDesktop(const std::wstring& desktopName, int width, int height) {
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

}  // namespace

TEST_F(WizardScenario, OpensCentredOnTheWelcomePageWithItsTextsAndStates) {
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    RECT placed;
    GetWindowRect(wizard_, &placed);
    EXPECT_EQ((GetSystemMetrics(SM_CXSCREEN) - (placed.right - placed.left)) / 2, placed.left);
    EXPECT_EQ((GetSystemMetrics(SM_CYSCREEN) - (placed.bottom - placed.top)) / 2, placed.top);

    const std::wstring message = ControlText(wizard_, kMessage);
    EXPECT_EQ(0u, message.find(kWelcomeMessageStart)) << "string 108, formatted";
    EXPECT_NE(std::wstring::npos, message.find(std::wstring(8, L'\n')));
    EXPECT_EQ(kNextLabel, ControlText(wizard_, kNext));
    EXPECT_EQ(kWelcomeLayout, Layout(wizard_));
    EXPECT_EQ(kCancel, FocusedControlId(wizard_));
    EXPECT_EQ(BST_CHECKED, CheckState(wizard_, kDisagree));
    EXPECT_EQ(BST_UNCHECKED, CheckState(wizard_, kAgree));
    EXPECT_EQ(BST_CHECKED, CheckState(wizard_, kStartMenu));
    EXPECT_EQ(BST_CHECKED, CheckState(wizard_, kDesktop));
    EXPECT_FALSE(IsControlVisible(wizard_, kStartMenu));
    EXPECT_FALSE(IsControlVisible(wizard_, kDesktop));
    SaveScreenshot(wizard_, L"wizard-1-welcome");
    ExpectCommandIgnored(IDOK);
    ExpectCommandIgnored(kBack);
}

TEST_F(WizardScenario, ScreenSmallerThanTheDialogPullsItToTheTopLeftEdges) {
    struct Screen {
        const wchar_t* desktop;
        int width;
        int height;
    };
    // Smaller both ways; narrower only; larger both ways.
    for (const Screen& screen : {Screen{L"pv_small", 320, 240}, Screen{L"pv_narrow", 360, 600},
                                 Screen{L"pv_large", 800, 700}}) {
        SCOPED_TRACE(testing::Message() << screen.width << "x" << screen.height);
        HWND wizard = StartWizardOnDesktop(screen.desktop, screen.width, screen.height);
        ASSERT_NE(nullptr, wizard) << "the wizard did not open on the virtual desktop";
        RECT placed;
        GetWindowRect(wizard, &placed);
        const LONG width = placed.right - placed.left;
        const LONG height = placed.bottom - placed.top;
        EXPECT_EQ(width > screen.width ? 0 : (screen.width - width) / 2, placed.left);
        EXPECT_EQ(height > screen.height ? 0 : (screen.height - height) / 2, placed.top);

        DWORD processId = 0;
        GetWindowThreadProcessId(wizard, &processId);
        SetupProcess setup;
        setup.process.reset(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE,
                                        FALSE, processId));
        setup.processId = processId;
        PostMessageW(wizard, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_EQ(0u, WaitForExit(setup, kStartTimeoutMs));
        KillIfRunning(setup);
    }
}

TEST_F(WizardScenario, LicenceShowsFormattedJapaneseTextAndNextFollowsTheAgreement) {
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ClickTo(kNext, kLicenceTitle);
    EXPECT_EQ(kLicencePrompt, ControlText(wizard_, kPrompt));
    EXPECT_EQ(kLicenceLayout, Layout(wizard_));
    EXPECT_EQ(kCancel, FocusedControlId(wizard_));
    const std::wstring licence = ControlText(wizard_, kViewer);
    EXPECT_EQ(0u, licence.find(L"Portvane ソフトウェア使用許諾契約書")) << licence.substr(0, 60);
    EXPECT_NE(std::wstring::npos, licence.find(L"第1条（定義）"));
    EXPECT_EQ(std::wstring::npos, licence.find(L"{\\rtf"));
    EXPECT_EQ(std::wstring::npos, licence.find(L"\\'"));
    SaveScreenshot(wizard_, L"wizard-2-licence");
    ExpectCommandIgnored(IDOK);
    ExpectCommandIgnored(kNext);

    ASSERT_TRUE(Click(wizard_, kAgree));
    ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(wizard_, kNext); }, 5000));
    EXPECT_EQ(kAgreedLayout, Layout(wizard_));
    EXPECT_EQ(BST_UNCHECKED, CheckState(wizard_, kDisagree));
    ASSERT_TRUE(Click(wizard_, kDisagree));
    ASSERT_TRUE(WaitUntil([&] { return !IsControlEnabled(wizard_, kNext); }, 5000));
    EXPECT_EQ(kLicenceLayout, Layout(wizard_));
    EXPECT_EQ(BST_CHECKED, CheckState(wizard_, kDisagree));

    ASSERT_TRUE(Click(wizard_, kAgree));
    ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(wizard_, kNext); }, 5000));
    ClickTo(kBack, kWelcomeTitle);
    EXPECT_EQ(kWelcomeLayout, Layout(wizard_));
    ClickTo(kNext, kLicenceTitle);
    EXPECT_EQ(kAgreedLayout, Layout(wizard_)) << "the agreement is kept";
    EXPECT_EQ(BST_CHECKED, CheckState(wizard_, kAgree));
    EXPECT_EQ(kCancel, FocusedControlId(wizard_));
}

TEST_F(WizardScenario, ConfirmationLeadsBackWithTheAgreementKept) {
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(WalkToConfirmation());
    EXPECT_EQ(kConfirmMessage, ControlText(wizard_, kMessage));
    EXPECT_EQ(kConfirmLayout, Layout(wizard_));
    EXPECT_FALSE(IsControlEnabled(wizard_, kAgree));
    EXPECT_FALSE(IsControlEnabled(wizard_, kDisagree));
    SaveScreenshot(wizard_, L"wizard-3-confirmation");
    ExpectCommandIgnored(IDOK);

    ClickTo(kBack, kLicenceTitle);
    EXPECT_EQ(kAgreedLayout, Layout(wizard_)) << "Next enabled again by the kept agreement";
    ClickTo(kNext, kConfirmTitle);
    EXPECT_EQ(kConfirmLayout, Layout(wizard_));
}

TEST_F(WizardScenario, CancelOnEachOfTheFirstThreePagesInstallsNothing) {
    for (int pagesForward = 0; pagesForward < 3; ++pagesForward) {
        SCOPED_TRACE(pagesForward);
        ASSERT_NO_FATAL_FAILURE(StartWizard());
        if (pagesForward >= 1) {
            ClickTo(kNext, kLicenceTitle);
        }
        if (pagesForward == 2) {
            ASSERT_TRUE(Click(wizard_, kAgree));
            ASSERT_TRUE(WaitUntil([&] { return IsControlEnabled(wizard_, kNext); }, 5000));
            ClickTo(kNext, kConfirmTitle);
        }
        ASSERT_TRUE(Click(wizard_, kCancel));
        EXPECT_EQ(0u, WaitForExit(setup_, kStartTimeoutMs));
        EXPECT_FALSE(PathExists(DefaultInstallFolder())) << "nothing installed";
        EXPECT_EQ(stagingBefore_, StagingFolders());
    }
}

TEST_F(WizardScenario, EveryCloseGestureEndsTheWizardWhileCancelIsEnabled) {
    for (const CloseGesture& gesture : kCloseGestures) {
        SCOPED_TRACE(gesture.name);
        ASSERT_NO_FATAL_FAILURE(StartWizard());
        PostMessageW(wizard_, gesture.message, gesture.wParam, gesture.lParam);
        EXPECT_EQ(0u, WaitForExit(setup_, kStartTimeoutMs));
        EXPECT_EQ(stagingBefore_, StagingFolders());
    }
}

TEST_F(WizardScenario, InstallsAndStartsTheApplicationAsTheDesktopUser) {
    ASSERT_NO_FATAL_FAILURE(StartShellWindow());
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(WalkToConfirmation());
    ClickTo(kNext, kProgressTitle);
    EXPECT_EQ(kProgressMessage, ControlText(wizard_, kMessage));
    EXPECT_EQ(kProgressLayout, Layout(wizard_));
    SaveScreenshot(wizard_, L"wizard-4-progress");

    ASSERT_TRUE(
        WaitUntil([&] { return ControlText(wizard_, kTitle) == kDoneTitle; }, kInstallTimeoutMs));
    EXPECT_EQ(kDoneMessage, ControlText(wizard_, kMessage));
    EXPECT_EQ(kCloseLabel, ControlText(wizard_, kNext));
    EXPECT_EQ(kLaunchLabel, ControlText(wizard_, kLaunch));
    EXPECT_EQ(BST_CHECKED, CheckState(wizard_, kLaunch));
    EXPECT_EQ(kDoneLayout, Layout(wizard_));
    SaveScreenshot(wizard_, L"wizard-5-completion");
    ExpectCommandIgnored(IDOK);
    ExpectCommandIgnored(kBack);
    EXPECT_FALSE(MutexExists(L"Portvane_Mutex"));

    CloseAndExpectExit();
    ASSERT_TRUE(WaitUntil([] { return ApplicationWindow() != nullptr; }, 10000))
        << "the installed application did not start";
    std::wstring image = ImagePathOfWindow(ApplicationWindow());
    std::wstring expected = DefaultInstallFolder() + L"\\Portvane.exe";
    CharLowerW(&image[0]);
    CharLowerW(&expected[0]);
    EXPECT_EQ(expected, image);
}

TEST_F(WizardScenario, ClosingWithTheLaunchBoxClearedStartsNothing) {
    ASSERT_NO_FATAL_FAILURE(StartShellWindow());
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(InstallTo(kDoneTitle));
    ASSERT_TRUE(Click(wizard_, kLaunch));
    ASSERT_TRUE(WaitUntil([&] { return CheckState(wizard_, kLaunch) == BST_UNCHECKED; }, 5000));
    CloseAndExpectExit();
    Sleep(2000);
    EXPECT_FALSE(MutexExists(L"Portvane_Mutex"));
    EXPECT_EQ(nullptr, ApplicationWindow());
}

TEST_F(WizardScenario, WithoutAShellWindowTheWizardStillClosesSilently) {
    ASSERT_EQ(nullptr, GetShellWindow());
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(InstallTo(kDoneTitle));
    EXPECT_EQ(BST_CHECKED, CheckState(wizard_, kLaunch));
    CloseAndExpectExit();
    Sleep(2000);
    EXPECT_FALSE(MutexExists(L"Portvane_Mutex"));
}

TEST_F(WizardScenario, ProgressPageCannotBeClosedWhileTheWorkerRuns) {
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(WalkToConfirmation());
    ClickTo(kNext, kProgressTitle);
    // The worker holds this page for at least a second after its last step; a
    // gesture that got through would end the wizard, so none can pass unseen.
    for (const CloseGesture& gesture : kCloseGestures) {
        SCOPED_TRACE(gesture.name);
        PostMessageW(wizard_, gesture.message, gesture.wParam, gesture.lParam);
    }
    for (int id : {kCancel, kNext, kBack}) {
        PostMessageW(wizard_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
        PostMessageW(GetDlgItem(wizard_, id), BM_CLICK, 0, 0);
    }
    Sleep(kSettleMs);
    ASSERT_TRUE(IsWindow(wizard_)) << "the wizard ended under a running worker";
    EXPECT_EQ(STILL_ACTIVE, WaitForExit(setup_, 0));
    ASSERT_TRUE(WaitUntil([&] { return ControlText(wizard_, kTitle) != kProgressTitle; },
                          kInstallTimeoutMs));
    EXPECT_EQ(kDoneTitle, ControlText(wizard_, kTitle));

    // Once the worker has reported, the close box may end the wizard.
    PostMessageW(wizard_, WM_SYSCOMMAND, SC_CLOSE, 0);
    EXPECT_EQ(0u, WaitForExit(setup_, kStartTimeoutMs));
    EXPECT_EQ(stagingBefore_, StagingFolders());
}

class FailedInstallScenario : public WizardScenario {
protected:
    // A file where the product folder belongs makes the folder step fail.
    void SetUp() override {
        WizardScenario::SetUp();
        const std::wstring maker = ProgramFilesFolder() + L"\\ORBEK";
        CreateDirectoryW(maker.c_str(), nullptr);
        ScopedFileHandle blocker(CreateFileW(DefaultInstallFolder().c_str(), GENERIC_WRITE, 0,
                                             nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL,
                                             nullptr));
        ASSERT_TRUE(blocker.valid());
    }
    void TearDown() override {
        DeleteFileW(DefaultInstallFolder().c_str());
        WizardScenario::TearDown();
    }
};

TEST_F(FailedInstallScenario, FailurePageShowsTheLogAndCopiesItToTheClipboard) {
    ASSERT_NO_FATAL_FAILURE(StartShellWindow());
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(InstallTo(kFailedTitle));
    EXPECT_EQ(kFailedMessage, ControlText(wizard_, kMessage));
    EXPECT_EQ(kCloseLabel, ControlText(wizard_, kNext));
    EXPECT_EQ(kFailedLayout, Layout(wizard_));
    const std::wstring shown = WithLineFeeds(ControlText(wizard_, kViewer));
    EXPECT_EQ(0u, shown.find(L"インストールログ\nOS Version: Major ")) << shown;
    // Whichever step the blocker trips, a failed system call logs its line and the system's text.
    EXPECT_NE(std::wstring::npos, shown.find(L"できません。\nOS Message:")) << shown;
    SaveScreenshot(wizard_, L"wizard-6-failure");
    ExpectCommandIgnored(IDOK);

    OpenClipboard(nullptr);
    EmptyClipboard();
    CloseClipboard();
    ASSERT_TRUE(Click(wizard_, kCopy));
    MessageBoxInfo box = WaitForMessageBox(setup_.processId, 10000, wizard_);
    ASSERT_NE(nullptr, box.window) << "no message box after the copy";
    EXPECT_EQ(kCopyDone, box.text);
    EXPECT_EQ(kCaptionText, box.caption);
    EXPECT_EQ(wizard_, box.owner);
    EXPECT_FALSE(ShowsIcon(box.window));
    SaveScreenshot(box.window, L"message-123-copied");
    DismissMessageBox(box);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box.window); }, 5000));
    const std::wstring copied = ClipboardText();
    EXPECT_EQ(shown, WithLineFeeds(copied)) << "the clipboard holds what the page shows";
    EXPECT_EQ(std::wstring::npos, copied.find(L"\r\n\r\n"))
        << "copied from the log, not the viewer";
    EXPECT_EQ(L'\n', copied.back());
    EXPECT_EQ(kFailedTitle, ControlText(wizard_, kTitle)) << "the copy stays on the failure page";

    CloseAndExpectExit();
    Sleep(2000);
    EXPECT_FALSE(MutexExists(L"Portvane_Mutex")) << "the failure page launches nothing";
}

TEST_F(FailedInstallScenario, CopyWhileTheClipboardIsHeldReports124) {
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(InstallTo(kFailedTitle));
    // Held for a window: Wine lets a clipboard opened for no window be opened again.
    HWND holder = CreateWindowExW(0, L"STATIC", L"holder", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_TRUE(OpenClipboard(holder));
    ASSERT_TRUE(Click(wizard_, kCopy));
    MessageBoxInfo box = WaitForMessageBox(setup_.processId, 10000, wizard_);
    CloseClipboard();
    DestroyWindow(holder);
    ASSERT_NE(nullptr, box.window);
    EXPECT_EQ(kCopyFailed, box.text);
    EXPECT_EQ(kCaptionText, box.caption);
    EXPECT_EQ(wizard_, box.owner);
    EXPECT_FALSE(ShowsIcon(box.window));
    SaveScreenshot(box.window, L"message-124-copy-failed");
    DismissMessageBox(box);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box.window); }, 5000));

    // The page is unchanged and a second copy succeeds.
    EXPECT_EQ(kFailedLayout, Layout(wizard_));
    ASSERT_TRUE(Click(wizard_, kCopy));
    box = WaitForMessageBox(setup_.processId, 10000, wizard_);
    ASSERT_NE(nullptr, box.window);
    EXPECT_EQ(kCopyDone, box.text);
    DismissMessageBox(box);
    ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box.window); }, 5000));
    EXPECT_EQ(0u, ClipboardText().find(L"インストールログ\n"));
    CloseAndExpectExit();
}
