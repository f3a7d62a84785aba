// Running the setup again over a running installation that it made itself:
// the earlier one is removed and the product installed afresh. The two runs
// also close the completion page the two ways that must start nothing.
#include <aclapi.h>
#include <sddl.h>
#include <shlobj.h>

#include <algorithm>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "payload/module_table.h"
#include "testbed/fault_sweep/situations.h"
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

// Files and folders directly in folder.
std::vector<std::wstring> FolderEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW((folder + L"\\*").c_str(), &entry));
    while (search) {
        if (wcscmp(entry.cFileName, L".") != 0 && wcscmp(entry.cFileName, L"..") != 0) {
            names.push_back(entry.cFileName);
        }
        if (!FindNextFileW(search.get(), &entry)) {
            break;
        }
    }
    return names;
}

class ReinstallScenario : public WizardScenario {
  protected:
    // Closes the completion page with the launch box as asked; with it cleared,
    // or with no shell window to start it as, the application must not start.
    // A run that ends on the failure page ends with 1603.
    void InstallThroughTheWizard(bool clearLaunch, const wchar_t* resultTitle = kDoneTitle) {
        ASSERT_NO_FATAL_FAILURE(StartWizard([this] { return Launch(); }));
        ASSERT_NO_FATAL_FAILURE(InstallTo(resultTitle));
        if (resultTitle == kFailedTitle) {
            CloseAndExpectExit(ERROR_INSTALL_FAILURE);
            return;
        }
        if (clearLaunch) {
            ASSERT_TRUE(Click(wizard_, IDC_LAUNCH_CHECK));
            ASSERT_TRUE(WaitUntil(
                [&] { return CheckState(wizard_, IDC_LAUNCH_CHECK) == BST_UNCHECKED; }, 5000));
        }
        CloseAndExpectExit();
        EXPECT_FALSE(ApplicationStarts());
    }

    virtual SetupProcess Launch() { return LaunchSetup(); }
};

// What an administrator may find in the field before an upgrade, made from a
// whole, running installation just before setup runs again.
struct FieldSituation {
    const char* name;
    void (*make)(class FieldScenario& scenario);
};

void PrintTo(const FieldSituation& situation, std::ostream* out) {
    *out << situation.name;
}

class FieldScenario : public ReinstallScenario {
  public:
    // Something another program holds during the upgrade, let go after a while.
    template <typename Hold>
    void HoldFor(DWORD milliseconds, Hold hold) {
        holders_.emplace_back([=] {
            auto held = hold();
            Sleep(milliseconds);
        });
    }

    // What lets go, or checks what the upgrade left alone, once it has run;
    // the last one given runs first.
    void Afterwards(std::function<void()> step) { afterwards_.push_back(std::move(step)); }

    // An upgrade through the wizard to resultTitle under the fault injector
    // (testbed/fault_sweep/fault_injector.cpp) with plan; the calls its worker made.
    void UpgradeUnderInjector(const std::wstring& plan, const wchar_t* resultTitle,
                              std::vector<LoggedCall>* calls) {
        const std::wstring log = L"C:\\portvane-calls.log";
        ASSERT_NO_FATAL_FAILURE(StartWizard([&] { return LaunchSetupUnderInjector(plan, log); }));
        ASSERT_NO_FATAL_FAILURE(InstallTo(resultTitle));
        *calls = ReadCallLog(log);
    }

    // The run after the upgrade ends with a whole installation too.
    void UpgradeAgainAfterwards() {
        Afterwards([this] {
            ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
            ExpectWholeRunningInstallation();
        });
    }

  protected:
    // Every run answered as Windows answers where Wine answers less: what
    // heals only under Wine does not count.
    SetupProcess Launch() override {
        return LaunchSetupUnderInjector(L"count", L"C:\\portvane-run.log");
    }

    // No situation before or after: the product state's reset leaves what a
    // situation added, and the slot's next test may be any.
    void SetUp() override {
        RemoveSituationAdditions();
        ReinstallScenario::SetUp();
    }

    void TearDown() override {
        for (std::thread& holder : holders_) {
            holder.join();
        }
        RunAfterwards();
        KillIfRunning(other_);
        RunUnix("chattr", "-i", DesktopShortcutPath());
        ReinstallScenario::TearDown();
        RemoveSituationAdditions();
    }

    void RunAfterwards() {
        while (!afterwards_.empty()) {
            const std::function<void()> step = std::move(afterwards_.back());
            afterwards_.pop_back();
            step();
        }
    }

    // Ten files, both services running and, when as installed, exactly the
    // ten files and both services as a fresh registration has them (started
    // automatically from their quoted paths), two shortcuts and the whole
    // uninstall entry.
    void ExpectWholeRunningInstallation(bool asInstalled = true) {
        const std::wstring folder = DefaultInstallFolder();
        for (const PayloadModule* module = kModuleTable; module->fileName; ++module) {
            const std::wstring path = folder + L"\\" + module->fileName;
            EXPECT_NE(INVALID_FILE_ATTRIBUTES, GetFileAttributesW(path.c_str())) << "missing";
        }
        for (const wchar_t* service : {kPService, kDService}) {
            EXPECT_TRUE(WaitForServiceState(service, SERVICE_RUNNING)) << service;
            const ServiceInfo info = QueryService(service);
            if (asInstalled) {
                EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), info.startType);
                EXPECT_EQ(L"\"" + folder + L"\\" + service + L".exe\"", info.binaryPath);
                EXPECT_EQ(L"LocalSystem|" + std::wstring(service) + L"|||",
                          info.account + L"|" + info.displayName + L"|" + info.group + L"|" +
                              info.dependencies + L"|" + info.description);
            }
        }
        if (asInstalled) {
            EXPECT_EQ(kModuleCount, FolderEntries(folder).size());
        }
        for (const std::wstring& link : {StartMenuShortcutPath(), DesktopShortcutPath()}) {
            EXPECT_EQ(0u, GetFileAttributesW(link.c_str()) & FILE_ATTRIBUTE_READONLY) << "fresh";
        }
        EXPECT_EQ(1, ProductUninstallEntries());
        EXPECT_EQ(11u, ValueCount(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
    }

    std::vector<std::thread> holders_;
    std::vector<std::function<void()>> afterwards_;
    SetupProcess other_;
};

class FieldSituationScenario : public FieldScenario,
                               public ::testing::WithParamInterface<FieldSituation> {};

// As "net stop" does it, after the start type is changed when asked.
void StopService(const wchar_t* serviceName, DWORD startType = SERVICE_NO_CHANGE,
                 DWORD awaited = SERVICE_STOPPED) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(
        OpenServiceW(manager.get(), serviceName, SERVICE_STOP | SERVICE_CHANGE_CONFIG));
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, startType, SERVICE_NO_CHANGE,
                                     nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                     nullptr));
    SERVICE_STATUS status = {};
    ASSERT_TRUE(ControlService(service.get(), SERVICE_CONTROL_STOP, &status));
    ASSERT_TRUE(WaitForServiceState(serviceName, awaited));
}

// Run by the test service in the phase given (services/tests/stuck_service.cpp):
// "starting" for 8 s (setup run right after logon), "stopping" for 8 s after a
// stop sent just before the upgrade, or running, to refuse every stop request
// ("refuse-stop") or to stop in 40 s once asked ("slow-stop", "stuck-stop").
void RunServiceInMotion(const wchar_t* serviceName, const wchar_t* phase) {
    ASSERT_NO_FATAL_FAILURE(StopService(serviceName));
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(
        OpenServiceW(manager.get(), serviceName, SERVICE_START | SERVICE_CHANGE_CONFIG));
    const std::wstring command = L"\"" + BuildPath(L"services\\pv_test_stuck_service.exe") + L"\"";
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                     SERVICE_NO_CHANGE, command.c_str(), nullptr, nullptr, nullptr,
                                     nullptr, nullptr, nullptr));
    const wchar_t* arguments[] = {phase};
    // The stopped process may still be on its way out.
    ASSERT_TRUE(
        WaitUntil([&] { return StartServiceW(service.get(), 1, arguments) != FALSE; }, 5000));
    if (wcscmp(phase, L"starting") != 0) {
        ASSERT_TRUE(WaitForServiceState(serviceName, SERVICE_RUNNING));
    }
    if (wcscmp(phase, L"stopping") == 0) {
        ASSERT_NO_FATAL_FAILURE(StopService(serviceName, SERVICE_NO_CHANGE, SERVICE_STOP_PENDING));
    }
}

void StopFirstService(FieldScenario&) {
    StopService(kPService);
}

void DisableAndStopFirstService(FieldScenario&) {
    StopService(kPService, SERVICE_DISABLED);
}

// Killed after the first service started: the second never ran, and neither the
// shortcuts nor the uninstall entry were written.
void KillSetupBetweenTheServices(FieldScenario&) {
    ASSERT_NO_FATAL_FAILURE(StopService(kDService));
    DeleteFileW(StartMenuShortcutPath().c_str());
    DeleteFileW(DesktopShortcutPath().c_str());
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
}

void StopServicesAndDeleteTheFolder(FieldScenario&) {
    ASSERT_NO_FATAL_FAILURE(StopService(kPService));
    ASSERT_NO_FATAL_FAILURE(StopService(kDService));
    const std::wstring folder = DefaultInstallFolder();
    // A stopped service's process may still be on its way out.
    ASSERT_TRUE(WaitUntil(
        [&] {
            DeleteTree(folder);
            return !PathExists(folder);
        },
        10000));
}

// The Services console opened the first service before setup started and lets go
// 5 s after the removal stopped it, and so after it was deleted.
void HoldTheFirstServiceOpen(FieldScenario& scenario) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(OpenServiceW(manager.get(), kPService, SERVICE_QUERY_STATUS));
    ASSERT_TRUE(service.valid());
    scenario.HoldFor(5000, [opened = service.release()] {
        ScopedServiceHandle held(opened);
        SERVICE_STATUS status = {};
        WaitUntil(
            [&] {
                return !QueryServiceStatus(held.get(), &status) ||
                       status.dwCurrentState == SERVICE_STOPPED;
            },
            kInstallTimeoutMs);
        return held;
    });
}

void MakeAFileReadOnly(FieldScenario&) {
    SetFileAttributesW((DefaultInstallFolder() + L"\\Readme.rtf").c_str(), FILE_ATTRIBUTE_READONLY);
}

// Opened when the wizard shows its first page: the removal reaches the file
// about 0.1 s after the click on Next, too soon to be caught after the click.
void ScanAFileDuringTheUpgrade(FieldScenario& scenario) {
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

// A sync client writes the desktop shortcut back as soon as the removal deleted
// it and holds it for 1.5 s, while the new one is to be saved.
void SyncTheDesktopShortcutBack(FieldScenario& scenario) {
    scenario.HoldFor(1500, [] {
        const std::wstring link = DesktopShortcutPath();
        WaitUntil([&] { return !PathExists(link); }, kInstallTimeoutMs);
        return ScopedFileHandle(CreateFileW(link.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                            OPEN_ALWAYS, 0, nullptr));
    });
}

// A setup ended while it wrote the uninstall entry.
void LeaveOnlyTheEntrysName(FieldScenario&) {
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"DisplayName", REG_SZ, L"Portvane",
                    18);
}

// Users may create files in the common data folder: 200 of them, held, and a
// hard link to a read-only file of the user's elsewhere, whose attributes the
// removal must leave as they are.
void HoldManyDataFiles(FieldScenario& scenario) {
    const std::wstring folder = DataFolder(CSIDL_COMMON_APPDATA);
    const std::wstring outside = SpecialFolder(CSIDL_COMMON_APPDATA) + L"\\users-own.txt";
    CreateDirectoryW((SpecialFolder(CSIDL_COMMON_APPDATA) + L"\\ORBEK").c_str(), nullptr);
    CreateDirectoryW(folder.c_str(), nullptr);
    ScopedFileHandle(
        CreateFileW(outside.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    const DWORD attributes = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE;
    ASSERT_TRUE(SetFileAttributesW(outside.c_str(), attributes));
    ASSERT_TRUE(CreateHardLinkW((folder + L"\\link.txt").c_str(), outside.c_str(), nullptr));
    auto held = std::make_shared<std::vector<ScopedFileHandle>>();
    for (int index = 0; index < 200; ++index) {
        const std::wstring path = folder + L"\\held" + std::to_wstring(index) + L".tmp";
        held->emplace_back(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                       nullptr, CREATE_ALWAYS, 0, nullptr));
        ASSERT_TRUE(held->back().valid());
    }
    scenario.Afterwards([=] {
        EXPECT_EQ(attributes, GetFileAttributesW(outside.c_str()));
        held->clear();
        SetFileAttributesW(outside.c_str(), FILE_ATTRIBUTE_NORMAL);
        DeleteFileW(outside.c_str());
    });
}

// Another program's service runs and depends on the first one: Windows
// refuses to stop a service while such a service runs, and it must run again
// afterwards. (Wine stops the first one anyway, and its service manager lists
// no dependent services.)
void MakeAServiceDependOnTheFirst(FieldScenario& scenario) {
    static constexpr wchar_t kDependent[] = L"Portvane_TestDependent";
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    const std::wstring command = L"\"" + BuildPath(L"payload-files\\Portvane_DService.exe") + L"\"";
    ScopedServiceHandle service(CreateServiceW(
        manager.get(), kDependent, kDependent, SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
        L"Portvane_PService\0", nullptr, nullptr));
    ASSERT_TRUE(StartServiceW(service.get(), 0, nullptr));
    scenario.Afterwards([] {
        EXPECT_TRUE(WaitForServiceState(kDependent, SERVICE_RUNNING)) << "not started again";
        DeleteServiceIfPresent(kDependent);
    });
}

// Other programs' services, in a process of their own and in a shared one,
// depend on the first service: stopped for the upgrade, they run again after.
void RunDependentsOfTheFirst(FieldScenario& scenario) {
    ASSERT_TRUE(MakeSituation(L"dependent"));
    scenario.Afterwards([] { EXPECT_EQ(L"", StoppedSituationServices(L"dependent")); });
}

// An administrator set the first service to start by hand, described it and
// made it depend on the second.
void ChangeTheFirstServicesRegistration(FieldScenario&) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(OpenServiceW(manager.get(), kPService, SERVICE_CHANGE_CONFIG));
    ASSERT_TRUE(ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_DEMAND_START,
                                     SERVICE_NO_CHANGE, nullptr, nullptr, nullptr,
                                     L"Portvane_DService\0", nullptr, nullptr, nullptr));
    wchar_t text[] = L"changed by an administrator";
    SERVICE_DESCRIPTIONW description = {text};
    ASSERT_TRUE(ChangeServiceConfig2W(service.get(), SERVICE_CONFIG_DESCRIPTION, &description));
}

// What a standard user's program holds through the upgrade, let go of
// afterwards (the deleter); once Wine has restarted, carrying out what was
// left for the restart, nothing of the old installation is left.
void HoldThroughTheUpgrade(FieldScenario& scenario, std::shared_ptr<void> held) {
    scenario.Afterwards([] {
        const SetupProcess restart = LaunchProgram(L"C:\\windows\\system32\\wineboot.exe", L"-r");
        EXPECT_EQ(0u, WaitForExit(restart, kStartTimeoutMs));
        EXPECT_EQ(std::vector<std::wstring>{L"Portvane"},
                  FolderEntries(ProgramFilesFolder() + L"\\ORBEK"));
        EXPECT_EQ(kModuleCount, FolderEntries(DefaultInstallFolder()).size());
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE,
                               L"SYSTEM\\CurrentControlSet\\Control\\Session Manager",
                               L"PendingFileRenameOperations")
                         .found);
    });
    scenario.Afterwards([held]() mutable { held.reset(); });
}

// An administrator ran "sc delete" on both running services: they go once
// stopped, and the upgrade registers them afresh.
void DeleteBothRunningServices(FieldScenario& scenario) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    for (const wchar_t* name : {kPService, kDService}) {
        ScopedServiceHandle service(OpenServiceW(manager.get(), name, DELETE));
        ASSERT_TRUE(DeleteService(service.get())) << GetLastError();
        ASSERT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryService(name).currentState);
    }
    scenario.UpgradeAgainAfterwards();
}

// A command prompt whose current folder is the install folder.
void StandInTheInstallFolder(FieldScenario& scenario) {
    wchar_t previous[MAX_PATH];
    ASSERT_NE(0u, GetCurrentDirectoryW(MAX_PATH, previous));
    ASSERT_TRUE(SetCurrentDirectoryW(DefaultInstallFolder().c_str()));
    HoldThroughTheUpgrade(scenario, std::shared_ptr<void>(new std::wstring(previous), [](void* p) {
                              auto* folder = static_cast<std::wstring*>(p);
                              SetCurrentDirectoryW(folder->c_str());
                              delete folder;
                          }));
}

// As the Services console does, for longer than any wait of setup's.
void KeepTheFirstServiceOpen(FieldScenario& scenario) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    SC_HANDLE service = OpenServiceW(manager.get(), kPService, SERVICE_QUERY_STATUS);
    ASSERT_NE(nullptr, service);
    HoldThroughTheUpgrade(scenario, std::shared_ptr<void>(service, [](void* handle) {
                              CloseServiceHandle(static_cast<SC_HANDLE>(handle));
                          }));
}

void LoadTheDiskLibrary(FieldScenario& scenario) {
    HMODULE library = LoadLibraryW((DefaultInstallFolder() + L"\\DiskInfo.dll").c_str());
    ASSERT_NE(nullptr, library);
    HoldThroughTheUpgrade(scenario, std::shared_ptr<void>(library, [](void* module) {
                              FreeLibrary(static_cast<HMODULE>(module));
                          }));
}

// As most readers open a file: sharing its deletion.
void ReadTheReadmeSharingDeletion(FieldScenario& scenario) {
    HANDLE file =
        CreateFileW((DefaultInstallFolder() + L"\\Readme.rtf").c_str(), GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(INVALID_HANDLE_VALUE, file);
    HoldThroughTheUpgrade(scenario, std::shared_ptr<void>(file, CloseHandle));
}

const FieldSituation kFieldSituations[] = {
    {"FirstServiceStopped", StopFirstService},
    {"FirstServiceDisabledAndStopped", DisableAndStopFirstService},
    {"SetupKilledBetweenTheServices", KillSetupBetweenTheServices},
    {"ServicesStoppedAndFolderDeleted", StopServicesAndDeleteTheFolder},
    {"ServicesConsoleHoldsAService", HoldTheFirstServiceOpen},
    {"ReadOnlyFile", MakeAFileReadOnly},
    {"ScannerHoldsAFile", ScanAFileDuringTheUpgrade},
    {"HalfWrittenUninstallEntry", LeaveOnlyTheEntrysName},
    {"UserHoldsManyDataFiles", HoldManyDataFiles},
    {"AnotherServiceDependsOnTheFirst", MakeAServiceDependOnTheFirst},
    {"FirstServiceStillStarting", [](auto&) { RunServiceInMotion(kPService, L"starting"); }},
    {"FirstServiceStillStopping", [](auto&) { RunServiceInMotion(kPService, L"stopping"); }},
    {"FirstServiceStopsFor40sShowingProgress",
     [](auto&) { RunServiceInMotion(kPService, L"slow-stop"); }},
    {"AdministratorDeletedBothRunningServices", DeleteBothRunningServices},
    // Its check point still for 40 s, within the 60 s its wait hint promised.
    {"FirstServiceStopsWithinItsWaitHint",
     [](auto&) { RunServiceInMotion(kPService, L"hinted-stop"); }},
    {"FirstServicePaused", [](auto&) { ASSERT_TRUE(MakeSituation(L"paused")); }},
    {"DependentsInTheirOwnAndInASharedProcess", RunDependentsOfTheFirst},
    {"SyncClientHoldsTheDesktopShortcut", SyncTheDesktopShortcutBack},
    {"AdministratorChangedTheFirstService", ChangeTheFirstServicesRegistration},
    {"CommandPromptInTheInstallFolder", StandInTheInstallFolder},
    {"UserKeepsTheFirstServiceOpen", KeepTheFirstServiceOpen},
    {"UserLoadedTheDiskLibrary", LoadTheDiskLibrary},
    {"UserReadsTheReadmeSharingDeletion", ReadTheReadmeSharingDeletion},
};

// A standard user holds an installed file, as anyone may read one in Program
// Files, until told to let go.
void HoldAnInstalledFile(FieldScenario& scenario) {
    const std::wstring readme = DefaultInstallFolder() + L"\\Readme.rtf";
    auto held = std::make_shared<ScopedFileHandle>(CreateFileW(
        readme.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held->valid());
    scenario.Afterwards([held] { held->reset(); });
}

void MakeASubfolder(FieldScenario& scenario) {
    const std::wstring subfolder = DefaultInstallFolder() + L"\\logs";
    ASSERT_TRUE(CreateDirectoryW(subfolder.c_str(), nullptr));
    scenario.Afterwards([subfolder] { RemoveDirectoryW(subfolder.c_str()); });
}

// The second service refuses to stop until it is let go; the first, stopped
// by then, must run again.
void MakeTheSecondServiceRefuseToStop(FieldScenario& scenario) {
    ASSERT_NO_FATAL_FAILURE(RunServiceInMotion(kDService, L"refuse-stop"));
    scenario.Afterwards([] {
        SetEvent(
            ScopedKernelHandle(OpenEventW(EVENT_MODIFY_STATE, FALSE, L"Global\\Portvane_TestLetGo"))
                .get());
    });
}

// What would make the removal fail once it had begun: found before anything
// is touched, so the product goes on protecting.
const FieldSituation kRefusedSituations[] = {
    {"UserHoldsAnInstalledFile", HoldAnInstalledFile},
    {"SubfolderInTheInstallFolder", MakeASubfolder},
    {"ServiceRefusesToStop", MakeTheSecondServiceRefuseToStop},
    // Given up on after 30 s without progress; it stops 10 s later and runs
    // again, started by that same setup.
    {"FirstServiceStopsFor40sWithoutProgress",
     [](auto&) { RunServiceInMotion(kPService, L"stuck-stop"); }},
};

class RefusedUpgradeScenario : public FieldSituationScenario {};

// One call of an upgrade made to fail by the fault injector: in a counted
// upgrade, the last call of function (any, when null) on an argument ending in
// argument (any, when null) that the call previous follows or the call next
// precedes (either, when null); what the failure page's log then says after
// its start-up lines; the situation both upgrades start from, whether the call
// fails once, for good or kills the setup, the page the upgrade ends on, and
// what another program holds meanwhile.
struct InjectedFault {
    const char* name;
    const wchar_t* function;
    const wchar_t* argument;
    const wchar_t* previous;
    const wchar_t* next;
    std::wstring (*logged)();
    const wchar_t* situation = L"product-folder";
    const wchar_t* kind = L"fail";
    const wchar_t* result = kFailedTitle;
    void (*hold)(FieldScenario&) = nullptr;
    // The point is the upgrade's last call of its function on its argument,
    // and it comes before the first stop: a refusal that begins later meets
    // no such call.
    bool lastBeforeTheFirstStop = false;
    // How the argument of the call before the point ends, where the function
    // alone does not tell the point apart.
    const wchar_t* previousArgument = nullptr;
};

std::wstring AccessDeniedLine() {
    return WithoutCarriageReturns(OsMessageLine(ERROR_ACCESS_DENIED));
}

void PrintTo(const InjectedFault& fault, std::ostream* out) {
    *out << fault.name;
}

// Refused before the first stop: nothing was stopped.
std::wstring NotHeldLines(const wchar_t* service) {
    return std::wstring(service) + L" をインストールできません。\n" + AccessDeniedLine() +
           L"アンインストール処理に失敗しました。\n";
}

std::wstring FirstExecutableNotCopiedLines() {
    return DefaultInstallFolder() + L"\\Portvane_PService.exe をコピーできません。\n" +
           AccessDeniedLine() + L"アンインストール処理に失敗しました。\n";
}

// What a restart would start: the executable the build packed, whole.
bool IsWholeServiceExecutable(const std::wstring& path) {
    const std::wstring packed = BuildPath(L"payload-files" + path.substr(path.rfind(L'\\')));
    const std::string bytes = FileBytes(path);
    return !bytes.empty() && bytes == FileBytes(packed);
}

// Whether the file's access list lets a standard user change it.
bool GrantsAStandardUserWrite(const std::wstring& path) {
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                              nullptr, &dacl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return true;
    }
    const ScopedLocalMemory owned(descriptor);
    const DWORD writes = FILE_WRITE_DATA | FILE_APPEND_DATA | WRITE_DAC | WRITE_OWNER | DELETE |
                         GENERIC_WRITE | GENERIC_ALL;
    for (DWORD index = 0; dacl != nullptr && index < dacl->AceCount; ++index) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (!GetAce(dacl, index, reinterpret_cast<void**>(&ace)) ||
            ace->Header.AceType != ACCESS_ALLOWED_ACE_TYPE || (ace->Mask & writes) == 0) {
            continue;
        }
        for (const wchar_t* user : {L"S-1-1-0", L"S-1-5-11", L"S-1-5-32-545", L"S-1-5-4"}) {
            PSID sid = nullptr;
            ConvertStringSidToSidW(user, &sid);
            const ScopedLocalMemory ownedSid(sid);
            if (EqualSid(sid, &ace->SidStart)) {
                return true;
            }
        }
    }
    return false;
}

// As a folder under a drive's root hands its files down: Users may change
// them (Wine keeps, of the three, only the grant to Everyone).
void LetUsersWrite(const std::wstring& path) {
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    ASSERT_TRUE(ConvertStringSecurityDescriptorToSecurityDescriptorW(
        L"D:(A;;FA;;;SY)(A;;FA;;;BA)(A;;0x1301bf;;;BU)(A;;0x1301bf;;;AU)(A;;0x1301bf;;;WD)",
        SDDL_REVISION_1, &descriptor, nullptr));
    const ScopedLocalMemory owned(descriptor);
    ASSERT_TRUE(SetFileSecurityW(path.c_str(), DACL_SECURITY_INFORMATION, descriptor));
    ASSERT_TRUE(GrantsAStandardUserWrite(path)) << path;
}

void LetUsersWriteTheOldServiceExecutables(FieldScenario&) {
    for (const wchar_t* service : {kPService, kDService}) {
        const std::wstring command = QueryService(service).binaryPath;
        ASSERT_NO_FATAL_FAILURE(LetUsersWrite(command.substr(1, command.size() - 2)));
    }
}

// What a run that died leaves: the first service stopped, its earlier
// executable listed in a private folder aside, and, when torn, only half of it
// at its path, as a copy ended half way leaves it.
void DieLeavingTheFirstExecutableAside(bool torn) {
    ASSERT_NO_FATAL_FAILURE(StopService(kPService));
    const std::wstring installed = DefaultInstallFolder() + L"\\Portvane_PService.exe";
    const std::wstring aside = ProgramFilesFolder() + L"\\ORBEK\\pvo1.tmp";
    ASSERT_TRUE(CreateDirectoryW(aside.c_str(), nullptr));
    ASSERT_TRUE(CopyFileW(installed.c_str(), (aside + L"\\Portvane_PService.exe").c_str(), TRUE));
    if (torn) {
        // Put back in the product folder, it must not let Users write it there.
        ASSERT_NO_FATAL_FAILURE(LetUsersWrite(aside + L"\\Portvane_PService.exe"));
        const std::string bytes = FileBytes(installed);
        ScopedFileHandle file(
            CreateFileW(installed.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), bytes.data(), static_cast<DWORD>(bytes.size() / 2),
                              &written, nullptr));
    }
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, L"SetupAsideFolder", REG_SZ,
                              aside.c_str(), static_cast<DWORD>((aside.size() + 1) * 2)));
}

void DieLeavingTheFirstExecutableAside(FieldScenario&) {
    DieLeavingTheFirstExecutableAside(false);
}

void DieTearingTheFirstExecutable(FieldScenario&) {
    DieLeavingTheFirstExecutableAside(true);
}

// As the Services console does, or any standard user may, until the end.
void HoldBothServicesOpen(FieldScenario& scenario) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    auto held = std::make_shared<std::vector<ScopedServiceHandle>>();
    for (const wchar_t* service : {kPService, kDService}) {
        held->emplace_back(OpenServiceW(manager.get(), service, SERVICE_QUERY_STATUS));
        ASSERT_TRUE(held->back().valid());
    }
    scenario.Afterwards([held] { held->clear(); });
}

const InjectedFault kInjectedFaults[] = {
    // A tightened access list may deny it (Wine checks none): not reported as
    // the "already exists" of a create, and refused before the first stop.
    {"DeniedOpenOfAKeptService", L"OpenServiceW", kPService, nullptr, L"ChangeServiceConfigW",
     [] { return NotHeldLines(kPService); }},
    // A service manager that, from some point on, refuses every connection,
    // or every open of either service: the run's last of each comes before
    // the first stop, so refused there the run stops nothing, and refused
    // later it meets none.
    {"ManagerRefusingEveryConnectionFromTheLast", L"OpenSCManagerW", nullptr, nullptr, nullptr,
     [] { return NotHeldLines(kPService); }, L"dependent", L"persist", kFailedTitle, nullptr, true},
    {"ManagerRefusingEveryOpenOfTheFirstServiceFromTheLast", L"OpenServiceW", kPService, nullptr,
     nullptr, [] { return NotHeldLines(kPService); }, L"product-folder", L"persist", kFailedTitle,
     nullptr, true},
    {"ManagerRefusingEveryOpenOfTheSecondServiceFromTheLast", L"OpenServiceW", kDService, nullptr,
     nullptr, [] { return NotHeldLines(kDService); }, L"dependent", L"persist", kFailedTitle,
     nullptr, true},
    // After the removal moved the old service files aside, before the new
    // ones are copied: the folders' first lookup of Program Files. The maker
    // folder fails without a line, and the services, their new files put in
    // place, start again without one.
    {"FolderLookupAfterTheRemoval", L"SHGetFolderPathW", L"38", L"RegDeleteKeyW", nullptr,
     [] { return std::wstring(); }},
    // Saved without its target, the link would open nothing.
    {"ShortcutTarget", L"IShellLinkW::SetPath", nullptr, nullptr, nullptr,
     [] {
         return DesktopShortcutPath() + L" を作成できません。\n" +
                WithoutCarriageReturns(OsMessageLine(ERROR_OUTOFMEMORY));
     }},
    // The earlier installation in another folder: a product folder that can
    // never be made refuses before the first stop...
    {"ProductFolderNeverMadeBesideAnotherFolder", L"CreateDirectoryW", L"\\ORBEK\\Portvane",
     nullptr, nullptr,
     [] {
         return DefaultInstallFolder() + L" を作成できません。\n" + AccessDeniedLine() +
                L"アンインストール処理に失敗しました。\n";
     },
     L"other-folder", L"persist"},
    // ... and an application that can never be copied, once that folder is
    // gone, leaves the services running from the product folder.
    {"ApplicationNeverCopiedBesideAnotherFolder", L"CopyFileW", L"\\Portvane.exe", nullptr, nullptr,
     [] {
         return DefaultInstallFolder() + L"\\Portvane.exe をコピーできません。\n" +
                AccessDeniedLine();
     },
     L"other-folder", L"persist"},
    // A scanner quarantines the first service's new executable as it lands,
    // beside its final name before the first stop: the earlier ones protect,
    // from the product folder, until a run can write the new one...
    {"ServiceExecutableNeverWritten", L"CopyFileW", L"\\Portvane_PService.exe.new", nullptr,
     nullptr, FirstExecutableNotCopiedLines, L"product-folder", L"persist"},
    // ... also after a run that died and left the first service stopped, its
    // earlier executable aside...
    {"ServiceExecutableNeverWrittenAfterADeath", L"CopyFileW", L"\\Portvane_PService.exe.new",
     nullptr, nullptr, FirstExecutableNotCopiedLines, L"product-folder", L"persist", kFailedTitle,
     DieLeavingTheFirstExecutableAside},
    // ... and torn at its path, as a copy ended half way leaves it: the
    // earlier one is put back in its place, with the product folder's security.
    {"ServiceExecutableNeverWrittenOverATornOne", L"CopyFileW", L"\\Portvane_PService.exe.new",
     nullptr, nullptr, FirstExecutableNotCopiedLines, L"product-folder", L"persist", kFailedTitle,
     DieTearingTheFirstExecutable},
    // ... and with the first service registered at a file outside the product
    // folder (paused, as an administrator may have set it), its staged
    // executable unreadable once both have stopped: that file, which setup
    // never writes, starts as it is.
    {"StagedExecutableUnreadableWhileTheFirstServiceRunsFromElsewhere", L"CreateFileW",
     L"\\Portvane_PService.exe", L"CreateFileW", L"SetFileAttributesW", nullptr, L"paused",
     L"persist", kFailedTitle, nullptr, false, L".new"},
    // Killed once the first service's earlier executable has its second name
    // aside, before the new one takes its name; and once the new executables
    // are on the disk, before they are flushed: at every such point each
    // registration names a whole executable, which a restart starts.
    {"KilledBetweenTheEarlierLinkAndTheNewName", L"MoveFileExW", L"\\Portvane_PService.exe.new",
     nullptr, nullptr, nullptr, L"product-folder", L"kill"},
    {"KilledBeforeTheNewExecutableIsFlushed", L"CreateFileW", L"\\Portvane_DService.exe.new",
     L"CopyFileW", nullptr, nullptr, L"other-folder", L"kill"},
    // An optional setting of the second service cannot be read once while a
    // user holds both services: the registration is kept, not deleted.
    {"OptionalSettingUnreadableWhileAUserHoldsTheServices", L"QueryServiceConfig2W", L"1", nullptr,
     nullptr, nullptr, L"product-folder", L"fail", kDoneTitle, HoldBothServicesOpen},
    // Killed just after the other folder went (its parent's removal), its
    // service executables writable by Users: no registration names the folder
    // that anyone may make again, and those kept aside take its security.
    {"KilledRightAfterTheOtherFolderWent", L"RemoveDirectoryW", L"\\Apps", L"RemoveDirectoryW",
     L"SHGetSpecialFolderPathW", nullptr, L"other-folder", L"kill", kFailedTitle,
     LetUsersWriteTheOldServiceExecutables},
    // Killed between the stops of two dependents, just after the second was
    // listed and the list flushed (its status read through the handle held for
    // it): the next run starts both.
    {"KilledBetweenTheStopsOfTwoDependents", L"QueryServiceStatusEx", nullptr, L"RegFlushKey",
     nullptr, nullptr, L"dependent", L"kill"},
};

class InjectedFaultScenario : public FieldScenario,
                              public ::testing::WithParamInterface<InjectedFault> {};

}  // namespace

TEST_P(FieldSituationScenario, UpgradeEndsWithAWholeRunningInstallation) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ASSERT_NO_FATAL_FAILURE(GetParam().make(*this));
    const DWORD start = GetTickCount();
    // Under the injector, which answers as Windows does where Wine answers less.
    std::vector<LoggedCall> calls;
    ASSERT_NO_FATAL_FAILURE(UpgradeUnderInjector(L"count", kDoneTitle, &calls));
    CloseAndExpectExit();
    RecordProperty("upgrade_ms", static_cast<int>(GetTickCount() - start));
    ExpectWholeRunningInstallation();
}

INSTANTIATE_TEST_SUITE_P(Field, FieldSituationScenario, ::testing::ValuesIn(kFieldSituations),
                         [](const auto& param) { return std::string(param.param.name); });

// The failure page, and the installation whole and running as it was; once
// let go, the next run installs.
TEST_P(RefusedUpgradeScenario, UpgradeFailsBeforeTouchingAnythingAndSucceedsOnceLetGo) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ASSERT_NO_FATAL_FAILURE(GetParam().make(*this));
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false, kFailedTitle));
    ExpectWholeRunningInstallation(false);
    RunAfterwards();
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ExpectWholeRunningInstallation();
}

INSTANTIATE_TEST_SUITE_P(Field, RefusedUpgradeScenario, ::testing::ValuesIn(kRefusedSituations),
                         [](const auto& param) { return std::string(param.param.name); });

// The tray program in another user's session: its mutex is out of setup's
// sight, its image is not. Started suspended, it has created no mutex. The
// entry names the folder in short form, small letters and "/": the same folder.
TEST_F(FieldSituationScenario, ProductRunningWithoutItsMutexIsRefusedAndNothingChanges) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    const std::wstring folder = DefaultInstallFolder();
    wchar_t shortFolder[MAX_PATH];
    ASSERT_NE(0u, GetShortPathNameW(folder.c_str(), shortFolder, MAX_PATH));
    std::wstring written(CharLowerW(shortFolder));
    std::replace(written.begin(), written.end(), L'\\', L'/');
    std::wstring command =
        ReadValue(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"UninstallString").text;
    command.replace(command.find(folder), folder.size(), written);
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"UninstallString", REG_SZ,
                              command.c_str(), (command.size() + 1) * sizeof(wchar_t)));
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION started = {};
    ASSERT_TRUE(CreateProcessW((folder + L"\\Portvane_Tray.exe").c_str(), nullptr, nullptr, nullptr,
                               FALSE, CREATE_SUSPENDED, nullptr, nullptr, &startup, &started));
    const ScopedKernelHandle process(started.hProcess);
    const ScopedKernelHandle thread(started.hThread);
    ExpectRefusal(kAlreadyRunning, 1);
    TerminateProcess(process.get(), 0);
    WaitForSingleObject(process.get(), kStartTimeoutMs);
    ExpectWholeRunningInstallation();
}

// Two setups, or a double click, confirmed together.
TEST_F(FieldSituationScenario, TwoSetupsConfirmedTogetherBothInstall) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(WalkForward(2));
    std::swap(setup_, other_);
    const HWND otherWizard = wizard_;
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(WalkForward(2));
    ASSERT_TRUE(Click(otherWizard, IDC_NEXT));
    ASSERT_NO_FATAL_FAILURE(ClickTo(IDC_NEXT, kProgressTitle));
    ASSERT_NO_FATAL_FAILURE(WaitForResult(kDoneTitle));
    ASSERT_TRUE(WaitUntil([&] { return ControlText(otherWizard, IDC_PAGE_TITLE) == kDoneTitle; },
                          kInstallTimeoutMs));
    ASSERT_TRUE(Click(otherWizard, IDC_NEXT));
    EXPECT_EQ(0u, WaitForExit(other_, kStartTimeoutMs));
    CloseAndExpectExit();
    ExpectWholeRunningInstallation();
}

// Read-only, and locked beyond what setup may undo (immutable: Wine refuses
// writes then): the failure names the shortcut; once only read-only, the next
// run replaces it.
TEST_F(FieldSituationScenario, UnwritableShortcutIsNamedAndTheNextRunReplacesIt) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    const std::wstring link = DesktopShortcutPath();
    ASSERT_TRUE(SetFileAttributesW(link.c_str(), FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(RunUnix("chattr", "+i", link));
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(InstallTo(kFailedTitle));
    EXPECT_NE(std::wstring::npos,
              WithoutCarriageReturns(ControlText(wizard_, IDC_VIEWER))
                  .find(link + L" を作成できません。\n" +
                        WithoutCarriageReturns(OsMessageLine(ERROR_ACCESS_DENIED))));
    CloseAndExpectExit(ERROR_INSTALL_FAILURE);
    ASSERT_TRUE(RunUnix("chattr", "-i", link));
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ExpectWholeRunningInstallation();
}

// A run killed at the first stop leaves its private folder listed; that
// folder's place is then taken by a link to an administrator's folder, as a
// junction would be where a standard user could rename a parent. The next
// run reaches nothing through it, and installs.
TEST_F(FieldSituationScenario, LinkInPlaceOfTheListedPrivateFolderIsLeftAlone) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    std::vector<LoggedCall> calls;
    ASSERT_NO_FATAL_FAILURE(UpgradeUnderInjector(L"count", kDoneTitle, &calls));
    CloseAndExpectExit();
    const auto stop = std::find_if(calls.begin(), calls.end(), [](const LoggedCall& call) {
        return call.function == L"ControlService";
    });
    ASSERT_NE(calls.end(), stop);
    const std::wstring plan = L"kill:" + std::to_wstring(stop->number);
    ASSERT_NO_FATAL_FAILURE(
        StartWizard([&] { return LaunchSetupUnderInjector(plan, L"C:\\portvane-calls.log"); }));
    ASSERT_NO_FATAL_FAILURE(WalkForward(2));
    ASSERT_TRUE(Click(wizard_, IDC_NEXT));
    EXPECT_EQ(250u, WaitForExit(setup_, kInstallTimeoutMs));
    stagingBefore_ = StagingFolders();
    const std::wstring aside =
        ReadValue(HKEY_LOCAL_MACHINE, kSettingsKey, L"SetupAsideFolder").text;
    ASSERT_FALSE(aside.empty());
    const std::wstring victim = L"C:\\Victim";
    const std::vector<std::wstring> files = {L"Portvane_PService.exe", L"a.txt", L"b.txt"};
    ASSERT_TRUE(CreateDirectoryW(victim.c_str(), nullptr));
    for (const std::wstring& file : files) {
        ASSERT_TRUE(ScopedFileHandle(CreateFileW((victim + L"\\" + file).c_str(), GENERIC_WRITE, 0,
                                                 nullptr, CREATE_NEW, 0, nullptr))
                        .valid());
    }
    ASSERT_TRUE(MoveFileExW(aside.c_str(), (aside + L".moved").c_str(), 0));
    ASSERT_TRUE(RunUnix("ln", "-s", victim, aside));
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ExpectWholeRunningInstallation();
    EXPECT_EQ(files, ListFiles(victim));
    EXPECT_TRUE(RunUnix("rm", "-f", aside));
    DeleteTree(aside + L".moved");
    DeleteTree(victim);
}

// A copy that fails after the services stopped (an old file locked beyond
// what setup may undo): the failure page shows with both services running.
TEST_F(FieldSituationScenario, FailedCopyAfterTheStopLeavesTheServicesRunning) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    const std::wstring readme = DefaultInstallFolder() + L"\\Readme.rtf";
    ASSERT_TRUE(RunUnix("chattr", "+i", readme));
    ASSERT_NO_FATAL_FAILURE(StartWizard());
    ASSERT_NO_FATAL_FAILURE(InstallTo(kFailedTitle));
    for (const wchar_t* service : {kPService, kDService}) {
        EXPECT_EQ(static_cast<DWORD>(SERVICE_RUNNING), QueryService(service).currentState);
    }
    EXPECT_NE(std::wstring::npos, WithoutCarriageReturns(ControlText(wizard_, IDC_VIEWER))
                                      .find(readme + L" をコピーできません。\n"));
    CloseAndExpectExit(ERROR_INSTALL_FAILURE);
    ASSERT_TRUE(RunUnix("chattr", "-i", readme));
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ExpectWholeRunningInstallation();
}

// A kept registration is written only where it differs from a fresh one, as
// the injector answers for Windows 10 where Wine answers less: an untouched
// upgrade writes nothing, the pre-shutdown time read as Windows 10's default
// of 10 s; one over an administrator's description, delayed start and failure
// actions (the last two set where Windows keeps them) writes just those
// levels, and leaves them fresh. A running dependent is listed, so stopped
// before the first service, which Windows would refuse to stop.
TEST_F(FieldSituationScenario, KeptRegistrationsAreWrittenOnlyWhereTheyDiffer) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    const std::wstring services = L"SYSTEM\\CurrentControlSet\\Services\\";
    const std::wstring first = services + kPService;
    const std::wstring second = services + kDService;
    for (const bool changed : {false, true}) {
        if (changed) {
            ASSERT_NO_FATAL_FAILURE(ChangeTheFirstServicesRegistration(*this));
            ASSERT_NO_FATAL_FAILURE(MakeAServiceDependOnTheFirst(*this));
            const DWORD delayed = TRUE;
            ASSERT_EQ(ERROR_SUCCESS,
                      RegSetKeyValueW(HKEY_LOCAL_MACHINE, first.c_str(), L"DelayedAutostart",
                                      REG_DWORD, &delayed, sizeof(delayed)));
            // Reset after a day, no reboot message or command, one restart after a minute.
            const DWORD actions[] = {86400, 0, 0, 1, 0, SC_ACTION_RESTART, 60000};
            ASSERT_EQ(ERROR_SUCCESS,
                      RegSetKeyValueW(HKEY_LOCAL_MACHINE, second.c_str(), L"FailureActions",
                                      REG_BINARY, actions, sizeof(actions)));
        }
        std::vector<LoggedCall> calls;
        ASSERT_NO_FATAL_FAILURE(UpgradeUnderInjector(L"count", kDoneTitle, &calls));
        CloseAndExpectExit();
        std::wstring levels;
        for (const LoggedCall& call : calls) {
            levels += call.function == L"ChangeServiceConfig2W" ? call.argument + L" " : L"";
        }
        EXPECT_EQ(changed ? L"1 3 2 " : L"", levels);
        EXPECT_EQ(0u, ReadValue(HKEY_LOCAL_MACHINE, first.c_str(), L"DelayedAutostart").number);
        EXPECT_FALSE(ReadValue(HKEY_LOCAL_MACHINE, second.c_str(), L"FailureActions").found);
        const auto listed = std::find_if(calls.begin(), calls.end(), [](const LoggedCall& call) {
            return call.function == L"EnumDependentServicesW" && call.argument == kPService;
        });
        const auto stopped = std::find_if(listed, calls.end(), [](const LoggedCall& call) {
            return call.function == L"ControlService";
        });
        ASSERT_NE(calls.end(), stopped);
        EXPECT_EQ(changed ? L"Portvane_TestDependent" : kPService, stopped->argument);
        ExpectWholeRunningInstallation();
    }
}

// A denial that lasts (an access list tightened on the first service): its
// first open is refused and so is every later one, and the upgrade fails with
// both services running.
TEST_F(FieldSituationScenario, LastingDenialFailsEveryLaterCallOnTheSameThing) {
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    std::vector<LoggedCall> calls;
    ASSERT_NO_FATAL_FAILURE(UpgradeUnderInjector(L"count", kDoneTitle, &calls));
    CloseAndExpectExit();
    const auto opensFirst = [](const LoggedCall& call) {
        return call.function == L"OpenServiceW" && call.argument == kPService;
    };
    const auto first = std::find_if(calls.begin(), calls.end(), opensFirst);
    ASSERT_NE(calls.end(), first);
    const int point = first->number;
    ASSERT_NO_FATAL_FAILURE(
        UpgradeUnderInjector(L"persist:" + std::to_wstring(point), kFailedTitle, &calls));
    CloseAndExpectExit(ERROR_INSTALL_FAILURE);
    int failed = 0;
    for (const LoggedCall& call : calls) {
        const bool persisting = opensFirst(call) && call.number >= point;
        EXPECT_EQ(persisting ? L"failed" : L"", call.outcome) << call.number;
        failed += persisting ? 1 : 0;
    }
    EXPECT_LT(1, failed);
    for (const wchar_t* service : {kPService, kDService}) {
        EXPECT_TRUE(WaitForServiceState(service, SERVICE_RUNNING)) << service;
    }
}

TEST_P(InjectedFaultScenario, FailedCallLeavesBothServicesRunningAndTheNextRunInstalls) {
    const InjectedFault& fault = GetParam();
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ASSERT_TRUE(MakeSituation(fault.situation));
    // Counted from the same start as the point's run: what is held, or what a
    // run that died left, changes the calls before it.
    if (fault.hold != nullptr) {
        ASSERT_NO_FATAL_FAILURE(fault.hold(*this));
    }
    std::vector<LoggedCall> calls;
    ASSERT_NO_FATAL_FAILURE(UpgradeUnderInjector(L"count", kDoneTitle, &calls));
    CloseAndExpectExit();
    const auto is = [&](size_t index, const wchar_t* function) {
        return function == nullptr || (index < calls.size() && calls[index].function == function);
    };
    int point = 0;
    for (size_t index = 1; index < calls.size(); ++index) {
        const bool matches = is(index, fault.function) && is(index - 1, fault.previous) &&
                             is(index + 1, fault.next) &&
                             EndsWith(calls[index].argument, fault.argument) &&
                             EndsWith(calls[index - 1].argument, fault.previousArgument);
        point = matches ? calls[index].number : point;
    }
    ASSERT_NE(0, point);
    if (fault.lastBeforeTheFirstStop) {
        const auto stop = std::find_if(calls.begin(), calls.end(), [](const LoggedCall& call) {
            return call.function == L"ControlService";
        });
        ASSERT_NE(calls.end(), stop);
        EXPECT_LT(point, stop->number);
    }
    ASSERT_TRUE(MakeSituation(fault.situation));
    // Where each ran before the upgrade, and its bytes then: a failure may
    // leave it registered there, whole as it was.
    std::wstring commandsBefore[2];
    std::string bytesBefore[2];
    for (int index = 0; index < 2; ++index) {
        commandsBefore[index] = QueryService(index == 0 ? kPService : kDService).binaryPath;
        bytesBefore[index] =
            FileBytes(commandsBefore[index].substr(1, commandsBefore[index].size() - 2));
    }
    if (fault.hold != nullptr) {
        ASSERT_NO_FATAL_FAILURE(fault.hold(*this));
    }
    const std::wstring plan = fault.kind + (L":" + std::to_wstring(point));
    const bool killed = fault.kind == std::wstring(L"kill");
    if (killed) {
        ASSERT_NO_FATAL_FAILURE(
            StartWizard([&] { return LaunchSetupUnderInjector(plan, L"C:\\portvane-calls.log"); }));
        ASSERT_NO_FATAL_FAILURE(WalkForward(2));
        ASSERT_TRUE(Click(wizard_, IDC_NEXT));
        EXPECT_EQ(250u, WaitForExit(setup_, kInstallTimeoutMs));
        calls = ReadCallLog(L"C:\\portvane-calls.log");
        // A killed setup leaves its staging folder behind.
        stagingBefore_ = StagingFolders();
    } else {
        ASSERT_NO_FATAL_FAILURE(UpgradeUnderInjector(plan, fault.result, &calls));
    }
    if (fault.logged != nullptr) {
        const std::wstring log = WithoutCarriageReturns(ControlText(wizard_, IDC_VIEWER));
        EXPECT_EQ(fault.logged(), log.substr(log.find(L'\n', log.find(L"\nCPU: ") + 1) + 1));
        EXPECT_EQ(std::wstring::npos,
                  log.find(WithoutCarriageReturns(OsMessageLine(ERROR_SERVICE_EXISTS))));
    }
    if (!killed) {
        CloseAndExpectExit(fault.result == kFailedTitle ? ERROR_INSTALL_FAILURE : 0);
    }
    // Never a registration deleted: a user's handle would keep it deleted.
    for (const LoggedCall& call : calls) {
        EXPECT_NE(L"DeleteService", call.function) << call.argument;
    }
    // Running, and from a whole file; killed, maybe stopped, but registered
    // at a whole file that a restart starts, never in a folder the removal
    // took away.
    for (int index = 0; index < 2; ++index) {
        const wchar_t* service = index == 0 ? kPService : kDService;
        const std::wstring command = QueryService(service).binaryPath;
        const std::wstring path = command.substr(1, command.size() - 2);
        EXPECT_TRUE(IsWholeServiceExecutable(path) ||
                    (command == commandsBefore[index] && FileBytes(path) == bytesBefore[index]))
            << command;
        EXPECT_FALSE(GrantsAStandardUserWrite(path)) << command;
        if (!killed) {
            EXPECT_TRUE(WaitForServiceState(service, SERVICE_RUNNING)) << service;
        }
    }
    const std::wstring aside =
        ReadValue(HKEY_LOCAL_MACHINE, kSettingsKey, L"SetupAsideFolder").text;
    for (const std::wstring& kept :
         aside.empty() ? std::vector<std::wstring>() : ListFiles(aside)) {
        EXPECT_FALSE(GrantsAStandardUserWrite(aside + L"\\" + kept)) << kept;
    }
    ASSERT_NO_FATAL_FAILURE(InstallThroughTheWizard(false));
    ExpectWholeRunningInstallation();
    EXPECT_EQ(L"", StoppedSituationServices(fault.situation));
    // Nothing of the earlier installation waits aside any more.
    EXPECT_EQ(std::vector<std::wstring>{L"Portvane"},
              FolderEntries(ProgramFilesFolder() + L"\\ORBEK"));
}

INSTANTIATE_TEST_SUITE_P(Injected, InjectedFaultScenario, ::testing::ValuesIn(kInjectedFaults),
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
