// The wizard end to end on the real setup under Wine: its six pages and every
// move between them, the close guard while Cancel is disabled, the placement,
// and the two finishing actions.
#include <iterator>
#include <thread>

#include "testbed/scenarios/wizard_fixture.h"
#include "testbed/test_helpers.h"

namespace {

BOOL CALLBACK FindWizardOnDesktop(HWND window, LPARAM found) {
    wchar_t className[16] = L"";
    GetClassNameW(window, className, 16);
    // IsWindowVisible answers for this desktop only; the style tells the truth.
    if (wcscmp(className, L"#32770") != 0 || !(GetWindowLongW(window, GWL_STYLE) & WS_VISIBLE) ||
        WindowText(window) != kCaptionText) {
        return TRUE;
    }
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
}

// Runs the setup on a Wine virtual desktop of the given size; the wizard, or null.
HWND StartWizardOnDesktop(const std::wstring& name, int width, int height) {
    LaunchProgram(L"C:\\windows\\explorer.exe",
                  L"/desktop=" + name + L"," + std::to_wstring(width) + L"x" +
                      std::to_wstring(height) + L" \"" + BuildPath(L"Portvane_Setup.exe") + L"\"");
    HWND found = nullptr;
    WaitUntil(
        [&] {
            HDESK desktop = OpenDesktopW(name.c_str(), 0, FALSE, DESKTOP_ENUMERATE);
            if (desktop != nullptr) {
                EnumDesktopWindows(desktop, FindWizardOnDesktop, reinterpret_cast<LPARAM>(&found));
                CloseDesktop(desktop);
            }
            return found != nullptr;
        },
        kStartTimeoutMs);
    return found;
}

std::wstring ImagePathOfWindow(HWND window) {
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    ScopedKernelHandle process(OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId));
    wchar_t path[MAX_PATH] = L"";
    DWORD size = MAX_PATH;
    QueryFullProcessImageNameW(process.get(), 0, path, &size);
    return CharLowerW(path);
}

// The install log's first three lines, as this prefix answers a 32-bit program.
std::wstring FirstLogLines() {
    OSVERSIONINFOW version = {};
    version.dwOSVersionInfoSize = sizeof(version);
    GetVersionExW(&version);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    return L"インストールログ\nOS Version: Major " + std::to_wstring(version.dwMajorVersion) +
           L" Minor " + std::to_wstring(version.dwMinorVersion) +
           (wow64 ? L"\nCPU: x64\n" : L"\nCPU: x86\n");
}

// Wine's end of the session: every window of the desktop is asked, then each
// process whose windows agreed is told and ended. 1 when a window refused.
DWORD EndSession() {
    const SetupProcess wineboot =
        LaunchProgram(L"C:\\windows\\system32\\wineboot.exe", L"--end-session");
    return WaitForExit(wineboot, kStartTimeoutMs);
}

}  // namespace

TEST_F(WizardScenario, FirstThreePagesShowTheirTextsAndLeadBackAndForth) {
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    const std::wstring message = ControlText(wizard_, IDC_PAGE_MESSAGE);
    EXPECT_EQ(0u, message.find(kWelcomeMessageStart)) << "string 108, formatted";
    EXPECT_NE(std::wstring::npos, message.find(std::wstring(8, L'\n')));
    EXPECT_EQ(kNextLabel, ControlText(wizard_, IDC_NEXT));
    EXPECT_EQ(kWelcomeLayout, Layout(wizard_));
    EXPECT_EQ(IDCANCEL, FocusedControlId(wizard_));
    EXPECT_EQ(BST_UNCHECKED, CheckState(wizard_, IDC_AGREE));
    for (int box : {IDC_DISAGREE, IDC_START_MENU_CHECK, IDC_DESKTOP_CHECK}) {
        EXPECT_EQ(BST_CHECKED, CheckState(wizard_, box)) << box;
    }
    EXPECT_FALSE(IsControlVisible(wizard_, IDC_START_MENU_CHECK));
    EXPECT_FALSE(IsControlVisible(wizard_, IDC_DESKTOP_CHECK));
    EXPECT_EQ(L"", ControlText(wizard_, IDC_HEADER_PICTURE)) << "its name for screen readers";
    EXPECT_NE(0, SendDlgItemMessageW(wizard_, IDC_HEADER_PICTURE, STM_GETIMAGE, IMAGE_BITMAP, 0));
    SaveScreenshot(wizard_, L"page-1-welcome");
    // Command 1 is the Enter key; the others come from a disabled or hidden button.
    ExpectIgnored({IDOK, IDC_BACK, IDC_DISAGREE, IDC_COPY_LOG});

    ClickTo(IDC_NEXT, kLicenceTitle);
    EXPECT_EQ(kLicencePrompt, ControlText(wizard_, IDC_LICENSE_PROMPT));
    EXPECT_EQ(kLicenceLayout, Layout(wizard_));
    EXPECT_EQ(IDCANCEL, FocusedControlId(wizard_));
    // The staged licence, rendered: its title first, no RTF source or escapes.
    const std::wstring licence = ControlText(wizard_, IDC_VIEWER);
    EXPECT_EQ(0u, licence.find(L"Portvane\u00a0ソフトウェア使用許諾契約書")) << licence.substr(0, 60);
    EXPECT_EQ(std::wstring::npos, licence.find(L"\\'"));
    SaveScreenshot(wizard_, L"page-2-license");
    ExpectIgnored({IDOK, IDC_NEXT});
    Choose(IDC_AGREE);
    Choose(IDC_DISAGREE);
    Choose(IDC_AGREE);
    ClickTo(IDC_BACK, kWelcomeTitle);
    EXPECT_EQ(kWelcomeLayout, Layout(wizard_));
    EXPECT_EQ(IDCANCEL, FocusedControlId(wizard_));
    ClickTo(IDC_NEXT, kLicenceTitle);
    EXPECT_EQ(kAgreedLayout, Layout(wizard_)) << "the agreement is kept";
    EXPECT_EQ(BST_CHECKED, CheckState(wizard_, IDC_AGREE));

    ClickTo(IDC_NEXT, kConfirmTitle);
    EXPECT_EQ(kConfirmMessage, ControlText(wizard_, IDC_PAGE_MESSAGE));
    EXPECT_EQ(kConfirmLayout, Layout(wizard_));
    EXPECT_FALSE(IsControlEnabled(wizard_, IDC_AGREE));
    EXPECT_FALSE(IsControlEnabled(wizard_, IDC_DISAGREE));
    SaveScreenshot(wizard_, L"page-3-confirm");
    ExpectIgnored({IDOK});
    ClickTo(IDC_BACK, kLicenceTitle);
    EXPECT_EQ(kAgreedLayout, Layout(wizard_)) << "Next enabled again by the kept agreement";
    ClickTo(IDC_NEXT, kConfirmTitle);
    EXPECT_EQ(kConfirmLayout, Layout(wizard_));
}

TEST_F(WizardScenario, CancelAndEveryCloseGestureEndTheWizardBeforeTheInstallation) {
    // The Cancel button on each of the first three pages, then each close gesture
    // on the pages in turn; none installs anything.
    for (int run = 0; run < 3 + static_cast<int>(std::size(kCloseGestures)); ++run) {
        const CloseGesture* gesture = run < 3 ? nullptr : &kCloseGestures[run - 3];
        SCOPED_TRACE(testing::Message()
                     << (gesture != nullptr ? gesture->name : "Cancel") << " on page " << run % 3);
        ASSERT_NO_FATAL_FAILURE(StartWizard());
        ASSERT_NO_FATAL_FAILURE(WalkForward(run % 3));
        if (gesture == nullptr) {
            ASSERT_TRUE(Click(wizard_, IDCANCEL));
        } else {
            PostMessageW(wizard_, gesture->message, gesture->wParam, gesture->lParam);
        }
        EXPECT_EQ(0u, WaitForExit(setup_, kStartTimeoutMs));
        EXPECT_FALSE(PathExists(DefaultInstallFolder())) << "nothing installed";
        EXPECT_EQ(stagingBefore_, StagingFolders());
    }
}

TEST_F(WizardScenario, ScreenSmallerThanTheDialogPullsItToTheTopLeftEdges) {
    struct Screen {
        const wchar_t* desktop;
        int width;
        int height;
    };
    // Smaller both ways; narrower only; larger both ways, where it is centred.
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

        GetWindowThreadProcessId(wizard, &setup_.processId);
        setup_.process.reset(OpenProcess(
            SYNCHRONIZE | PROCESS_QUERY_INFORMATION | PROCESS_TERMINATE, FALSE, setup_.processId));
        PostMessageW(wizard, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_EQ(0u, WaitForExit(setup_, kStartTimeoutMs));
        KillIfRunning(setup_);
    }
}

TEST_F(WizardScenario, InstallsRefusingEveryCloseUntilDoneAndStartsTheApplicationAsTheUser) {
    ASSERT_NO_FATAL_FAILURE(StartShellWindow());
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(WalkForward(2));
    ClickTo(IDC_NEXT, kProgressTitle);
    EXPECT_EQ(kProgressMessage, ControlText(wizard_, IDC_PAGE_MESSAGE));
    EXPECT_EQ(kProgressLayout, Layout(wizard_));
    SaveScreenshot(wizard_, L"page-4-progress");
    // The worker holds this page for at least a second after its last step; a
    // gesture or command that got through would end the wizard or show a box,
    // a stray result would offer Close under the running worker.
    PostCloseGestures();
    for (int id : {IDOK, IDCANCEL, IDC_NEXT, IDC_BACK, IDC_COPY_LOG}) {
        PostMessageW(wizard_, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0);
    }
    PostStrayResults();
    Sleep(kSettleMs);
    ASSERT_TRUE(IsWindow(wizard_)) << "the wizard ended under a running worker";
    EXPECT_EQ(nullptr, WaitForMessageBox(setup_.processId, 0, wizard_).window);
    EXPECT_EQ(kProgressTitle + std::wstring(L" ") + kProgressLayout,
              ControlText(wizard_, IDC_PAGE_TITLE) + L" " + Layout(wizard_));

    ASSERT_NO_FATAL_FAILURE(WaitForResult(kDoneTitle));
    EXPECT_EQ(kDoneMessage, ControlText(wizard_, IDC_PAGE_MESSAGE));
    EXPECT_EQ(kCloseLabel, ControlText(wizard_, IDC_NEXT));
    EXPECT_EQ(kLaunchLabel, ControlText(wizard_, IDC_LAUNCH_CHECK));
    EXPECT_EQ(BST_CHECKED, CheckState(wizard_, IDC_LAUNCH_CHECK));
    EXPECT_EQ(kDoneLayout, Layout(wizard_));
    SaveScreenshot(wizard_, L"page-5-done");
    // Cancel stays disabled on the last page, so only Close ends the wizard.
    ExpectIgnored({IDOK, IDC_BACK, IDC_COPY_LOG}, true);
    EXPECT_FALSE(MutexExists(kApplicationMutex)) << "started before Close";

    CloseAndExpectExit();
    ASSERT_TRUE(WaitUntil([] { return ApplicationWindow() != nullptr; }, 10000))
        << "the installed application did not start";
    std::wstring expected = DefaultInstallFolder() + L"\\Portvane.exe";
    CharLowerW(&expected[0]);
    EXPECT_EQ(expected, ImagePathOfWindow(ApplicationWindow()));
}

TEST_F(WizardScenario, EveryPageIsAnnouncedWithItsTitleAndMessage) {
    ASSERT_NO_FATAL_FAILURE(WalkAnnounced(kDoneTitle));
}

TEST_F(WizardScenario, KeyboardAloneInstallsAndClearsTheLaunchBoxAt96And144Dpi) {
    ASSERT_NO_FATAL_FAILURE(StartShellWindow());
    for (const DWORD dpi : {96, 144}) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        ASSERT_NO_FATAL_FAILURE(InstallByKeyboard(dpi, kDoneTitle));
        // The focus moves with Tab, before Space has been handled.
        ASSERT_EQ(IDC_LAUNCH_CHECK, Type({VK_TAB, VK_SPACE}, IDC_LAUNCH_CHECK));
        EXPECT_TRUE(WaitUntil(
            [&] { return CheckState(wizard_, IDC_LAUNCH_CHECK) == BST_UNCHECKED; }, 5000));
        ASSERT_EQ(IDC_NEXT, Type({VK_TAB}, IDC_NEXT));
        Type({VK_RETURN}, 0);
        EXPECT_EQ(0u, WaitForExit(setup_, kStartTimeoutMs));
        EXPECT_FALSE(ApplicationStarts()) << "the cleared box still launched";
    }
}

// The end of the session before the installation takes the staging folder
// with it: left behind, only an administrator could delete it. During the
// installation the session waits for the worker.
TEST_F(WizardScenario, EndOfTheSessionRemovesTheStagingFolderOrWaitsForTheWorker) {
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(WalkForward(1));
    ASSERT_NE(stagingBefore_, StagingFolders());
    EXPECT_EQ(0u, EndSession());
    EXPECT_NE(STILL_ACTIVE, WaitForExit(setup_, kStartTimeoutMs));
    EXPECT_EQ(stagingBefore_, StagingFolders()) << "the staging folder stayed";

    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(WalkForward(2));
    ClickTo(IDC_NEXT, kProgressTitle);
    EXPECT_EQ(1u, EndSession()) << "the end of the session was not refused";
    ASSERT_NO_FATAL_FAILURE(WaitForResult(kDoneTitle));
    EXPECT_EQ(0u, EndSession());
    EXPECT_NE(STILL_ACTIVE, WaitForExit(setup_, kStartTimeoutMs));
    EXPECT_EQ(stagingBefore_, StagingFolders()) << "the staging folder stayed";
}

class FailedInstallScenario : public WizardScenario {
  protected:
    // A file where the maker folder belongs is taken for that folder; the product
    // folder cannot be created inside it, and no earlier installation is seen.
    void SetUp() override {
        WizardScenario::SetUp();
        ScopedFileHandle blocker(CreateFileW(MakerFolder().c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        ASSERT_TRUE(blocker.valid());
    }
    void TearDown() override {
        DeleteFileW(MakerFolder().c_str());
        WizardScenario::TearDown();
    }
    static std::wstring MakerFolder() { return ProgramFilesFolder() + L"\\ORBEK"; }

    // Clicks the copy button and answers its box, which must read `text`.
    void CopyAndExpect(const wchar_t* text, const wchar_t* screenshot) {
        ASSERT_TRUE(Click(wizard_, IDC_COPY_LOG));
        const MessageBoxInfo box = WaitForMessageBox(setup_.processId, 10000, wizard_);
        ASSERT_NE(nullptr, box.window) << "no message box after the copy";
        EXPECT_EQ(text, box.text);
        EXPECT_EQ(kCaptionText, box.caption);
        EXPECT_EQ(wizard_, box.owner);
        EXPECT_FALSE(box.hasIcon);
        SaveScreenshot(box.window, screenshot);
        DismissMessageBox(box);
        ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box.window); }, 5000));
        EXPECT_EQ(kFailedTitle + std::wstring(L" ") + kFailedLayout,
                  ControlText(wizard_, IDC_PAGE_TITLE) + L" " + Layout(wizard_))
            << "the copy stays on the failure page";
    }
};

TEST_F(FailedInstallScenario, FailurePageShowsTheLogCopiesItOrSaysItCannotAndLaunchesNothing) {
    ASSERT_NO_FATAL_FAILURE(StartShellWindow());
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(InstallTo(kFailedTitle));
    EXPECT_EQ(kFailedMessage, ControlText(wizard_, IDC_PAGE_MESSAGE));
    EXPECT_EQ(kCloseLabel, ControlText(wizard_, IDC_NEXT));
    EXPECT_EQ(kFailedLayout, Layout(wizard_));
    const std::wstring shown = WithoutCarriageReturns(ControlText(wizard_, IDC_VIEWER));
    EXPECT_EQ(FirstLogLines() + DefaultInstallFolder() + L" を作成できません。\n" +
                  WithoutCarriageReturns(OsMessageLine(ERROR_PATH_NOT_FOUND)),
              shown);
    SaveScreenshot(wizard_, L"page-6-failed");
    ExpectIgnored({IDOK, IDC_BACK}, true);

    // Held (and emptied) for a window: Wine lets a clipboard opened for no window be opened again.
    HWND holder = CreateWindowExW(0, L"STATIC", L"holder", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                  nullptr, nullptr);
    ASSERT_TRUE(OpenClipboard(holder));
    EmptyClipboard();
    CopyAndExpect(kCopyFailed, L"message-124-copy-failed");
    CloseClipboard();
    DestroyWindow(holder);
    // Held for 0.4 s, as clipboard managers do after every change: the copy waits for it.
    const ScopedKernelHandle held(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    std::thread briefHolder([&] {
        HWND window = CreateWindowExW(0, L"STATIC", L"holder", WS_POPUP, 0, 0, 1, 1, nullptr,
                                      nullptr, nullptr, nullptr);
        OpenClipboard(window);
        SetEvent(held.get());
        Sleep(400);
        CloseClipboard();
        DestroyWindow(window);
    });
    WaitForSingleObject(held.get(), INFINITE);
    CopyAndExpect(kCopyDone, L"message-123-copied");
    briefHolder.join();
    ASSERT_FALSE(HasFatalFailure());
    EXPECT_EQ(wizard_, GetClipboardOwner()) << "Windows refuses the data of an ownerless clipboard";
    const std::wstring copied = ClipboardText();
    EXPECT_EQ(shown, WithoutCarriageReturns(copied)) << "the clipboard holds what the page shows";
    EXPECT_EQ(std::wstring::npos, copied.find(L"\r\n\r\n"))
        << "copied from the log, not the viewer";
    EXPECT_EQ(L'\n', copied.back());

    CloseAndExpectExit(ERROR_INSTALL_FAILURE);
    EXPECT_FALSE(ApplicationStarts()) << "the failure page launches nothing";
}

// A screen reader names the viewer by an annotation or, without one, by the
// static before it: on the failure page both name the log.
TEST_F(FailedInstallScenario, FailurePageIsAnnouncedAndNamesItsLogViewer) {
    ASSERT_NO_FATAL_FAILURE(WalkAnnounced(kFailedTitle));
    HWND viewer = GetDlgItem(wizard_, IDC_VIEWER);
    wchar_t className[16] = L"";
    GetClassNameW(GetWindow(viewer, GW_HWNDPREV), className, 16);
    EXPECT_EQ(0, _wcsicmp(L"Static", className));
    EXPECT_EQ(kLogViewerName, WindowText(GetWindow(viewer, GW_HWNDPREV)));
    EXPECT_EQ(kLogViewerName, ReadAccessibleText(viewer).name);
}

TEST_F(FailedInstallScenario, KeyboardAloneReachesTheLogAndCopiesItAt96And144Dpi) {
    for (const DWORD dpi : {96, 144}) {
        SCOPED_TRACE(testing::Message() << dpi << " DPI");
        ASSERT_NO_FATAL_FAILURE(InstallByKeyboard(dpi, kFailedTitle));
        ASSERT_EQ(IDC_VIEWER, Type({VK_TAB}, IDC_VIEWER));
        ASSERT_EQ(IDOK, Type({VK_TAB, VK_SPACE}, IDOK)) << "the copy button shows no box";
        // Focused before its text can be read from here, under load.
        MessageBoxInfo box;
        WaitUntil(
            [&] {
                box = WaitForMessageBox(setup_.processId, 0, wizard_);
                return !box.text.empty();
            },
            kStartTimeoutMs);
        EXPECT_EQ(kCopyDone, box.text);
        ASSERT_EQ(IDC_COPY_LOG, Type({VK_RETURN}, IDC_COPY_LOG));
        EXPECT_EQ(WithoutCarriageReturns(ControlText(wizard_, IDC_VIEWER)),
                  WithoutCarriageReturns(ClipboardText()));
        ASSERT_EQ(IDC_NEXT, Type({VK_TAB}, IDC_NEXT));
        Type({VK_SPACE}, 0);
        EXPECT_EQ(static_cast<DWORD>(ERROR_INSTALL_FAILURE), WaitForExit(setup_, kStartTimeoutMs));
    }
}
