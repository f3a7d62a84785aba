// The start-up refusals and gates of the real setup, end to end under Wine.
#include "testbed/scenarios/startup_fixture.h"

namespace {

constexpr wchar_t kDotNetMissing[] =
    L"このアプリケーションを実行するには、.NET Framework 4.0以上をインストールする必要があります。";
constexpr wchar_t kAlreadyRunning[] = L"起動中です。インストールできません。";

class StartupScenario : public SetupScenario {
protected:
    // Setup shows exactly this refusal box and ends with this code.
    void ExpectRefusal(const wchar_t* text, DWORD exitCode) {
        setup_ = LaunchSetup();
        MessageBoxInfo box = WaitForMessageBox(setup_.processId, kStartTimeoutMs);
        ASSERT_NE(nullptr, box.window) << "no message box";
        EXPECT_EQ(text, box.text);
        EXPECT_EQ(L"Portvane", box.caption);
        EXPECT_EQ(nullptr, box.owner);
        EXPECT_TRUE(box.hasIcon);
        SaveScreenshot(box.window, exitCode == 1 && wcscmp(text, kDotNetMissing) == 0
                                       ? L"message-129-dotnet"
                                       : L"message-119-running");
        DismissMessageBox(box);
        EXPECT_EQ(exitCode, WaitForExit(setup_, kStartTimeoutMs));
        EXPECT_EQ(stagingBefore_, StagingFolders()) << "a refusal must leave nothing on disk";
    }

    // Starts a stand-in product program and waits until it holds its mutex.
    void StartProduct(const wchar_t* fileName, const wchar_t* mutexName) {
        product_ = LaunchProgram(BuildPath(std::wstring(L"payload-files\\") + fileName));
        ASSERT_TRUE(WaitUntil(
            [&] {
                ScopedKernelHandle held(OpenMutexW(SYNCHRONIZE, FALSE, mutexName));
                return held.valid();
            },
            kStartTimeoutMs));
    }

    SetupProcess product_;

    void TearDown() override {
        KillIfRunning(product_);
        SetupScenario::TearDown();
    }
};

}  // namespace

TEST_F(StartupScenario, WithoutDotNetRefusesWith129BeforeAnythingElse) {
    RemoveDotNet();
    ExpectRefusal(kDotNetMissing, 1);
}

TEST_F(StartupScenario, Release378388AloneIsRefused) {
    RemoveDotNet();
    SetMachineDword(kDotNetFullKey, L"Release", 378388);
    ExpectRefusal(kDotNetMissing, 1);
}

TEST_F(StartupScenario, Release378389Passes) {
    RemoveDotNet();
    SetMachineDword(kDotNetFullKey, L"Release", 378389);
    setup_ = LaunchSetup();
    ExpectWizardThenCancel(setup_);
}

TEST_F(StartupScenario, ClientProfileAlonePasses) {
    RemoveDotNet();
    SetMachineDword(kDotNetClientKey, L"Install", 1);
    setup_ = LaunchSetup();
    ExpectWizardThenCancel(setup_);
}

TEST_F(StartupScenario, RunningApplicationRefusesWithExitCode1) {
    ASSERT_NO_FATAL_FAILURE(StartProduct(L"Portvane.exe", L"Portvane_Mutex"));
    ExpectRefusal(kAlreadyRunning, 1);
}

TEST_F(StartupScenario, RunningTrayProgramRefusesWithExitCode0) {
    ASSERT_NO_FATAL_FAILURE(StartProduct(L"Portvane_Tray.exe", L"Portvane_Tray_Mutex"));
    ExpectRefusal(kAlreadyRunning, 0);
}

TEST_F(StartupScenario, TwoCopiesOfSetupDoNotRefuseEachOther) {
    setup_ = LaunchSetup();
    HWND first = WaitForDialog(setup_.processId, kCaptionText, kStartTimeoutMs);
    ASSERT_NE(nullptr, first);
    SetupProcess second = LaunchSetup();
    HWND other = WaitForDialog(second.processId, kCaptionText, kStartTimeoutMs);
    EXPECT_NE(nullptr, other) << "the second copy refused to start";
    EXPECT_EQ(nullptr, WaitForMessageBox(second.processId, 0, other).window);
    if (other != nullptr) {
        Click(other, IDCANCEL);
    }
    EXPECT_EQ(0u, WaitForExit(second, kStartTimeoutMs));
    KillIfRunning(second);
    Click(first, IDCANCEL);
    EXPECT_EQ(0u, WaitForExit(setup_, kStartTimeoutMs));
}
