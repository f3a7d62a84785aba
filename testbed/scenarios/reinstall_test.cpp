// Running the setup again over a running installation that it made itself:
// the earlier one is removed and the product installed afresh.
#include "testbed/scenarios/wizard_fixture.h"

namespace {

DWORD ServiceState(const wchar_t* name) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    return service && QueryServiceStatus(service.get(), &status) ? status.dwCurrentState : 0;
}

FILETIME LastWrite(const std::wstring& path) {
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data);
    return data.ftLastWriteTime;
}

void BackDate(const std::wstring& path) {
    ScopedFileHandle file(CreateFileW(path.c_str(), FILE_WRITE_ATTRIBUTES, 0, nullptr,
                                      OPEN_EXISTING, 0, nullptr));
    const FILETIME longAgo = {0, 0x01000000};
    SetFileTime(file.get(), nullptr, nullptr, &longAgo);
}

int UninstallEntriesOfTheProduct() {
    ScopedRegistryKey uninstall;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                  0, KEY_READ, uninstall.receive());
    int found = 0;
    wchar_t name[256];
    for (DWORD index = 0;; ++index) {
        DWORD length = 256;
        if (RegEnumKeyExW(uninstall.get(), index, name, &length, nullptr, nullptr, nullptr,
                          nullptr) != ERROR_SUCCESS) {
            return found;
        }
        found += _wcsicmp(name, L"ORBEK_Portvane") == 0;
    }
}

class ReinstallScenario : public WizardScenario {
protected:
    void InstallThroughTheWizard() {
        ASSERT_NO_FATAL_FAILURE(StartWizard());
        ASSERT_NO_FATAL_FAILURE(InstallTo(kDoneTitle));
        ASSERT_TRUE(Click(wizard_, kLaunch));
        ASSERT_TRUE(WaitUntil([&] { return CheckState(wizard_, kLaunch) == BST_UNCHECKED; }, 5000));
        CloseAndExpectExit();
    }
};

}  // namespace

TEST_F(ReinstallScenario, SecondRunReplacesARunningInstallationWhole) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard());
    const std::wstring folder = DefaultInstallFolder();
    ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(L"Portvane_PService"));

    // Traces of the first installation that only a fresh one replaces.
    const std::wstring readme = folder + L"\\Readme.rtf";
    {
        ScopedFileHandle file(CreateFileW(readme.c_str(), GENERIC_WRITE, 0, nullptr,
                                          TRUNCATE_EXISTING, 0, nullptr));
        ASSERT_TRUE(file.valid());
    }
    BackDate(StartMenuShortcutPath());
    BackDate(DesktopShortcutPath());
    const FILETIME oldShortcut = LastWrite(DesktopShortcutPath());

    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard());

    EXPECT_EQ(FileSize(BuildPath(L"payload-files\\Readme.rtf")), FileSize(readme));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(L"Portvane_PService"));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), ServiceState(L"Portvane_DService"));
    for (const std::wstring& link : {StartMenuShortcutPath(), DesktopShortcutPath()}) {
        const FILETIME written = LastWrite(link);
        EXPECT_NE(0, CompareFileTime(&oldShortcut, &written)) << "rewritten";
    }
    EXPECT_EQ(1, UninstallEntriesOfTheProduct());
    DWORD install = 0;
    DWORD size = sizeof(install);
    EXPECT_EQ(ERROR_SUCCESS, RegGetValueW(HKEY_CURRENT_USER, L"Software\\orbek\\Portvane",
                                          L"Install", RRF_RT_REG_DWORD, nullptr, &install, &size));
    EXPECT_EQ(1u, install);
}
