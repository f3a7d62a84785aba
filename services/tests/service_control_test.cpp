// Single service operations and the component walk against Wine's real service
// control manager, where a whole installation or removal does not show them:
// refused paths, unknown names, the waits and the stop bound.
#include "services/service_control.h"
#include "services/service_registration.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>
#include <tuple>

#include "platform/scoped_handle.h"
#include "services/components.h"
#include "services/tests/service_test_support.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

namespace {

constexpr const wchar_t* kStuckService = L"Portvane_TestStuck";

// Milliseconds an operation took.
DWORD Timed(const std::function<void()>& operation) {
    const DWORD start = GetTickCount();
    operation();
    return GetTickCount() - start;
}

using ServiceControlTest = ProductStateTest;

void InstallAndStart(const wchar_t* serviceName, const std::wstring& executable) {
    ASSERT_TRUE(InstallService(serviceName, executable.c_str()));
    ASSERT_TRUE(StartProductService(serviceName));
    ASSERT_TRUE(WaitForServiceState(serviceName, SERVICE_RUNNING));
}

// A stop bounded to four polls gives up after them, leaving the service as it was then.
void ExpectStopGivesUpAfterFourPolls(const wchar_t* serviceName, DWORD stateLeft) {
    bool stopped = true;
    const DWORD elapsed = Timed(
        [&] { stopped = StopProductService(serviceName, RetryBudget(kServiceWaitCapMs), 4); });
    EXPECT_FALSE(stopped);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), GetLastError());
    EXPECT_GE(elapsed, 1900u);  // four waits of 500 ms
    EXPECT_LT(elapsed, 4000u);
    EXPECT_EQ(stateLeft, QueryService(serviceName).currentState);
}

// A service that stays "stop pending" must not hold the installation for ever.
class StuckServiceTest : public testing::Test {
  protected:
    void SetUp() override { DeleteServiceIfPresent(kStuckService); }
    void TearDown() override {
        WaitForServiceState(kStuckService, SERVICE_STOPPED, 15000);
        DeleteServiceIfPresent(kStuckService);
    }
};

}  // namespace

// 259 characters is the longest path a 260-character buffer holds; an empty
// folder would register a path relative to wherever the service starts.
TEST_F(ServiceControlTest, ExecutablePathThatWouldNotFitOrIsRelativeRegistersNothing) {
    wchar_t path[kPathChars];
    const std::wstring folder = L"C:\\" + std::wstring(250, L'a');
    ASSERT_TRUE(ComponentExecutablePath(folder.c_str(), L"x.exe", path));
    EXPECT_EQ(folder + L"\\x.exe", path);
    EXPECT_FALSE(ComponentExecutablePath((folder + L"a").c_str(), L"x.exe", path));
    EXPECT_STREQ(L"", path);

    for (const std::wstring& installFolder : {folder, std::wstring()}) {
        SetInstallFolder(installFolder);
        LogWatch log;
        EXPECT_FALSE(InstallComponents());
        EXPECT_EQ(L"", log.Added());
        EXPECT_FALSE(AnyComponentRegistered());
    }
}

TEST_F(ServiceControlTest, UnknownNameFailsAtOnceWithItsError) {
    const std::function<bool()> operations[] = {[] { return StartProductService(kPService); },
                                                [] { return StopProductService(kPService); }};
    for (const auto& operation : operations) {
        bool succeeded = true;
        EXPECT_LT(Timed([&] { succeeded = operation(); }), 1000u);
        EXPECT_FALSE(succeeded);
        EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
    }
    EXPECT_FALSE(MayBeRunning(kPService));
    EXPECT_FALSE(IsStartable(kPService));
}

// Never started: stopped at once, and startable while its file is there.
TEST_F(ServiceControlTest, AServiceThatIsAlreadyStoppedCountsAsStopped) {
    const std::wstring executable = DefaultInstallFolder() + L"\\Portvane_PService.exe";
    CopyStandin(L"Portvane_PService.exe", DefaultInstallFolder());
    ASSERT_TRUE(InstallService(kPService, executable.c_str()));
    bool stopped = false;
    EXPECT_LT(Timed([&] { stopped = StopProductService(kPService); }), 1000u);
    EXPECT_TRUE(stopped) << GetLastError();
    EXPECT_FALSE(MayBeRunning(kPService));
    EXPECT_TRUE(IsStartable(kPService));
    ASSERT_TRUE(DeleteFileW(executable.c_str()));
    EXPECT_FALSE(IsStartable(kPService));
}

// An administrator's changes to a registration are undone, so that it holds
// what a fresh one holds (the second service is made fresh beside it); a
// program holding a handle to a service deleted by someone else keeps its
// name, and that is waited for within the bound.
TEST_F(ServiceControlTest, ARegistrationIsKeptAndBroughtToTheInstalledConfiguration) {
    const std::wstring executable = DefaultInstallFolder() + L"\\Portvane_PService.exe";
    CopyStandin(L"Portvane_PService.exe", DefaultInstallFolder());
    CopyStandin(L"Portvane_DService.exe", DefaultInstallFolder());
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    ScopedServiceHandle changed(CreateServiceW(
        manager.get(), kPService, L"Changed", SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
        SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, L"C:\\Elsewhere\\old.exe", L"Group", nullptr,
        L"Portvane_DService\0", nullptr, nullptr));
    ASSERT_TRUE(changed.valid());
    wchar_t text[] = L"set by an administrator";
    SERVICE_DESCRIPTIONW description = {text};
    ASSERT_TRUE(ChangeServiceConfig2W(changed.get(), SERVICE_CONFIG_DESCRIPTION, &description));
    SetInstallFolder(DefaultInstallFolder());
    LogWatch log;
    ASSERT_TRUE(InstallComponents()) << log.Added();
    const ServiceInfo kept = QueryService(kPService);
    const ServiceInfo fresh = QueryService(kDService);
    EXPECT_EQ(L"\"" + executable + L"\"", kept.binaryPath);
    EXPECT_EQ(kPService, kept.displayName);
    for (const auto& [what, keptValue, freshValue] :
         {std::tuple(L"start", kept.startType, fresh.startType),
          std::tuple(L"type", kept.serviceType, fresh.serviceType),
          std::tuple(L"errors", kept.errorControl, fresh.errorControl)}) {
        EXPECT_EQ(freshValue, keptValue) << what;
    }
    for (const auto& [what, keptValue, freshValue] :
         {std::tuple(L"account", kept.account, fresh.account),
          std::tuple(L"group", kept.group, fresh.group),
          std::tuple(L"dependencies", kept.dependencies, fresh.dependencies),
          std::tuple(L"description", kept.description, fresh.description)}) {
        EXPECT_EQ(freshValue, keptValue) << what;
    }

    ScopedServiceHandle held(OpenServiceW(manager.get(), kPService, SERVICE_QUERY_STATUS));
    ASSERT_TRUE(StopProductService(kPService) && DeleteService(changed.get()));
    changed.reset();
    bool free = true;
    EXPECT_LT(Timed([&] { free = WaitWhileMarkedForDeletion(kPService, 5); }), 1500u);
    EXPECT_FALSE(free);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());
    std::thread release([&] {
        Sleep(1500);
        held.reset();
    });
    const DWORD elapsed = Timed([&] { free = WaitWhileMarkedForDeletion(kPService); });
    release.join();
    EXPECT_TRUE(free);
    EXPECT_GE(elapsed, 1400u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_FALSE(QueryService(kPService).registered);
}

// The process of a stopped service may run on; the wait for it is bounded like
// the stop, and while it runs its executable cannot be deleted.
TEST_F(ServiceControlTest, ProcessOutlivingItsStoppedReportIsWaitedForWithinTheBound) {
    const std::wstring executable = DefaultInstallFolder() + L"\\Portvane_PService.exe";
    CopyStandin(L"Portvane_PService.exe", DefaultInstallFolder());
    ASSERT_NO_FATAL_FAILURE(InstallAndStart(kPService, executable));
    ASSERT_NO_FATAL_FAILURE(RestartLingering(kPService));
    ExpectStopGivesUpAfterFourPolls(kPService, SERVICE_STOPPED);
    EXPECT_FALSE(DeleteFileW(executable.c_str()));
    EXPECT_TRUE(WaitUntil([&] { return DeleteFileW(executable.c_str()) != FALSE; }, 10000));
}

TEST_F(StuckServiceTest, StopGivesUpAfterItsPollLimit) {
    ASSERT_NO_FATAL_FAILURE(
        InstallAndStart(kStuckService, BuildPath(L"services\\pv_test_stuck_service.exe")));
    ExpectStopGivesUpAfterFourPolls(kStuckService, SERVICE_STOP_PENDING);
    // Already stopping, it refuses a second request: not taken for a stopped
    // service, it is waited for within the bound.
    ExpectStopGivesUpAfterFourPolls(kStuckService, SERVICE_STOP_PENDING);
    EXPECT_TRUE(StopProductService(kStuckService));
}
