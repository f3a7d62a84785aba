// The start-up refusals and gates of the real setup, end to end under Wine.
#include "testbed/scenarios/startup_fixture.h"
// These need windows.h first.
#include <sddl.h>

#include <vector>

namespace {

class StartupScenario : public SetupScenario {
protected:
    // Starts a stand-in product program and waits until it holds its mutex.
    void StartProduct(const wchar_t* fileName, const wchar_t* mutexName) {
        products_.push_back(LaunchProgram(BuildPath(std::wstring(L"payload-files\\") + fileName)));
        ASSERT_TRUE(WaitUntil(
            [&] {
                ScopedKernelHandle held(OpenMutexW(SYNCHRONIZE, FALSE, mutexName));
                return held.valid();
            },
            kStartTimeoutMs));
    }

    std::vector<SetupProcess> products_;

    void TearDown() override {
        for (const SetupProcess& product : products_) {
            KillIfRunning(product);
        }
        SetupScenario::TearDown();
    }
};

}  // namespace

TEST_F(StartupScenario, WithoutDotNetRefusesWith129BeforeAnythingElse) {
    ASSERT_NO_FATAL_FAILURE(StartProduct(L"Portvane_Tray.exe", L"Portvane_Tray_Mutex"));
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

// The application's test comes before the tray program's.
TEST_F(StartupScenario, RunningApplicationRefusesWithExitCode1EvenWithTheTray) {
    ASSERT_NO_FATAL_FAILURE(StartProduct(L"Portvane.exe", L"Portvane_Mutex"));
    ASSERT_NO_FATAL_FAILURE(StartProduct(L"Portvane_Tray.exe", L"Portvane_Tray_Mutex"));
    ExpectRefusal(kAlreadyRunning, 1);
}

// Setup elevated over the shoulder is another user than the application: its
// mutex exists, though setup may not open it.
TEST_F(StartupScenario, ApplicationOfAnotherUserRefusesWithExitCode1) {
    PSECURITY_DESCRIPTOR systemOnly = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;;GA;;;SY)", SDDL_REVISION_1, &systemOnly, nullptr));
    ScopedLocalMemory descriptor(systemOnly);
    SECURITY_ATTRIBUTES attributes = {sizeof(attributes), systemOnly, FALSE};
    ScopedKernelHandle mutex(CreateMutexW(&attributes, TRUE, L"Portvane_Mutex"));
    ASSERT_TRUE(mutex.valid());
    ASSERT_NE(static_cast<DWORD>(ERROR_ALREADY_EXISTS), GetLastError());
    // What setup asks for, as CreateMutexW does.
    ASSERT_FALSE(
        ScopedKernelHandle(OpenMutexW(MUTEX_ALL_ACCESS, FALSE, L"Portvane_Mutex")).valid());
    ASSERT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    ExpectRefusal(kAlreadyRunning, 1);
}

TEST_F(StartupScenario, WithoutRichEditEndsSilentlyWithExitCode1) {
    // Rich Edit disabled for this exe alone. A program started by another Windows
    // program does not take WINEDLLOVERRIDES from its environment, so Wine's
    // registry form of it is used.
    const wchar_t overrides[] = L"Software\\Wine\\AppDefaults\\Portvane_Setup.exe\\DllOverrides";
    ASSERT_EQ(ERROR_SUCCESS, RegSetKeyValueW(HKEY_CURRENT_USER, overrides, L"riched20", REG_SZ,
                                             L"", sizeof(wchar_t)));
    setup_ = LaunchSetup();
    // A wizard or a box would wait for an answer.
    const DWORD exitCode = WaitForExit(setup_, kStartTimeoutMs);
    RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\Wine\\AppDefaults\\Portvane_Setup.exe");
    EXPECT_EQ(1u, exitCode);
    EXPECT_EQ(stagingBefore_, StagingFolders()) << "the staging folder must be removed";
}

TEST_F(StartupScenario, RunningTrayProgramRefusesWithExitCode1) {
    ASSERT_NO_FATAL_FAILURE(StartProduct(L"Portvane_Tray.exe", L"Portvane_Tray_Mutex"));
    ExpectRefusal(kAlreadyRunning, 1);
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
