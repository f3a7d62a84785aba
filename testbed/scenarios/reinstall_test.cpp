// Running the setup again over a running installation that it made itself:
// the earlier one is removed and the product installed afresh. The two runs
// also close the completion page the two ways that must start nothing.
#include "testbed/scenarios/wizard_fixture.h"
#include "testbed/test_helpers.h"

namespace {

FILETIME LastWrite(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

constexpr FILETIME kLongAgo = {0, 0x01000000};

void BackDate(const std::wstring& path) {
    ScopedFileHandle file(
        CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(SetFileTime(file.get(), nullptr, nullptr, &kLongAgo));
}

class ReinstallScenario : public WizardScenario {
  protected:
    // Closes the completion page with the launch box as asked; with it cleared,
    // or with no shell window to start it as, the application must not start.
    void InstallThroughTheWizard(bool clearLaunch) {
        ASSERT_NO_FATAL_FAILURE(StartWizard());
        ASSERT_NO_FATAL_FAILURE(InstallTo(kDoneTitle));
        if (clearLaunch) {
            ASSERT_TRUE(Click(wizard_, IDC_LAUNCH_CHECK));
            ASSERT_TRUE(WaitUntil(
                [&] { return CheckState(wizard_, IDC_LAUNCH_CHECK) == BST_UNCHECKED; }, 5000));
        }
        CloseAndExpectExit();
        EXPECT_FALSE(ApplicationStarts());
    }
};

}  // namespace

TEST_F(ReinstallScenario, SecondRunReplacesARunningInstallationWhole) {
    ASSERT_EQ(nullptr, GetShellWindow());
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    const std::wstring folder = DefaultInstallFolder();
    ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryService(kPService).currentState);

    // Traces of the first installation that only a fresh one replaces.
    const std::wstring readme = folder + L"\\Readme.rtf";
    {
        ScopedFileHandle file(
            CreateFileW(readme.c_str(), GENERIC_WRITE, 0, nullptr, TRUNCATE_EXISTING, 0, nullptr));
        ASSERT_TRUE(file.valid());
    }
    for (const std::wstring& link : {StartMenuShortcutPath(), DesktopShortcutPath()}) {
        BackDate(link);
    }

    ASSERT_NO_FATAL_FAILURE(StartShellWindow());
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(true));

    EXPECT_EQ(FileSize(BuildPath(L"payload-files\\Readme.rtf")), FileSize(readme));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryService(kPService).currentState);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryService(kDService).currentState);
    for (const std::wstring& link : {StartMenuShortcutPath(), DesktopShortcutPath()}) {
        const FILETIME written = LastWrite(link);
        EXPECT_NE(0, CompareFileTime(&kLongAgo, &written)) << "rewritten";
    }
    EXPECT_EQ(1, ProductUninstallEntries());
    const RegistryValue install = ReadValue(HKEY_CURRENT_USER, kSettingsKey, L"Install");
    EXPECT_EQ(static_cast<DWORD>(REG_DWORD), install.type);
    EXPECT_EQ(1u, install.number);
}
