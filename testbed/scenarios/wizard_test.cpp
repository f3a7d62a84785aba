// The wizard end to end on the real setup under Wine: its six pages, navigation,
// the close guard of the progress page, a whole installation, and the two
// finishing actions.
#include "testbed/scenarios/wizard_fixture.h"

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

TEST_F(WizardScenario, CloseGesturesAreRefusedWhileCancelIsDisabled) {
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

    // Cancel stays disabled on the last page, so only Close ends the wizard.
    for (const CloseGesture& gesture : kCloseGestures) {
        PostMessageW(wizard_, gesture.message, gesture.wParam, gesture.lParam);
    }
    Sleep(kSettleMs);
    ASSERT_TRUE(IsWindow(wizard_)) << "a close gesture got past the disabled Cancel";
    CloseAndExpectExit();
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
    EXPECT_FALSE(box.hasIcon);
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
    EXPECT_FALSE(box.hasIcon);
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
