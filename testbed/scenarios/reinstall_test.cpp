// Running the setup again over a running installation that it made itself:
// the earlier one is removed and the product installed afresh. The two runs
// also close the completion page the two ways that must start nothing.
#include <thread>

#include "payload/module_table.h"
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

// What an administrator may find in the field before an upgrade, made from a
// whole, running installation just before setup runs again.
struct FieldSituation {
    const char* name;
    void (*make)(class FieldSituationScenario& scenario);
};

void PrintTo(const FieldSituation& situation, std::ostream* out) { *out << situation.name; }

class FieldSituationScenario : public ReinstallScenario,
                               public ::testing::WithParamInterface<FieldSituation> {
  public:
    // Something another program holds during the upgrade, let go after a while.
    template <typename Hold>
    void HoldFor(DWORD milliseconds, Hold hold) {
        holders_.emplace_back([=] {
            auto held = hold();
            Sleep(milliseconds);
        });
    }

  protected:
    void TearDown() override {
        for (std::thread& holder : holders_) {
            holder.join();
        }
        ReinstallScenario::TearDown();
    }

    // Ten files, both services running and started automatically from their
    // quoted paths, two shortcuts and the whole uninstall entry.
    void ExpectWholeRunningInstallation() {
        const std::wstring folder = DefaultInstallFolder();
        for (const PayloadModule* module = kModuleTable; module->fileName; ++module) {
            const std::wstring path = folder + L"\\" + module->fileName;
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "missing";
        }
        for (const wchar_t* service : {kPService, kDService}) {
            EXPECT_TRUE(WaitForServiceState(service, SERVICE_RUNNING));
            const ServiceInfo info = QueryService(service);
            EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), info.startType);
            EXPECT_EQ(L"\"" + folder + L"\\" + service + L".exe\"", info.binaryPath);
        }
        for (const std::wstring& link : {StartMenuShortcutPath(), DesktopShortcutPath()}) {
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(link.c_str()));
        }
        EXPECT_EQ(1, ProductUninstallEntries());
        EXPECT_EQ(11u, ValueCount(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
    }

    std::vector<std::thread> holders_;
};

// A whole installation left as it was.
void LeaveAlone(FieldSituationScenario&) {}

void MakeAFileReadOnly(FieldSituationScenario&) {
    SetFileAttributesW((DefaultInstallFolder() + L"\\Readme.rtf").c_str(), FILE_ATTRIBUTE_READONLY);
}

// Opened when the wizard shows its first page: the removal reaches the file
// about 0.1 s after the click on Next, too soon to be caught after the click.
void ScanAFileDuringTheUpgrade(FieldSituationScenario& scenario) {
    scenario.HoldFor(1500, [] {
        WaitUntil(
            [] {
                return !ControlText(FindWindowW(L"#32770", kCaptionText), IDC_PAGE_TITLE).empty();
            },
            kInstallTimeoutMs);
        const std::wstring readme = DefaultInstallFolder() + L"\\Readme.rtf";
        return ScopedFileHandle(CreateFileW(readme.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                            OPEN_EXISTING, 0, nullptr));
    });
}

// A setup ended while it wrote the uninstall entry.
void LeaveOnlyTheEntrysName(FieldSituationScenario&) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"DisplayName", REG_SZ, L"Portvane",
                    18);
}

const FieldSituation kFieldSituations[] = {
    {"Untouched", LeaveAlone},
    {"ReadOnlyFile", MakeAFileReadOnly},
    {"ScannerHoldsAFile", ScanAFileDuringTheUpgrade},
    {"HalfWrittenUninstallEntry", LeaveOnlyTheEntrysName},
};

}  // namespace

TEST_P(FieldSituationScenario, UpgradeEndsWithAWholeRunningInstallation) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    GetParam().make(*this);
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ExpectWholeRunningInstallation();
}

INSTANTIATE_TEST_SUITE_P(Field, FieldSituationScenario, ::testing::ValuesIn(kFieldSituations),
                         [](const auto& param) { return std::string(param.param.name); });

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
