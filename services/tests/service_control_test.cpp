// Single service operations and the component walk against Wine's real service
// control manager, where a whole installation or removal does not show them:
// refused paths, unknown names, the waits and the stop bound.
#include "services/service_control.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <thread>

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
    const DWORD elapsed = Timed([&] { stopped = StopProductService(serviceName, 4); });
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
                                                [] { return StopProductService(kPService); },
                                                [] { return DeleteProductService(kPService); }};
    for (const auto& operation : operations) {
        bool succeeded = true;
        EXPECT_LT(Timed([&] { succeeded = operation(); }), 1000u);
        EXPECT_FALSE(succeeded);
        EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
    }
}

// Never started: stopped and deleted like a service the stop request stopped,
// without the wait for removal.
TEST_F(ServiceControlTest, StopAndDeleteDeletesAServiceThatIsAlreadyStopped) {
    CopyStandin(L"Portvane_PService.exe", DefaultInstallFolder());
    ASSERT_TRUE(
        InstallService(kPService, (DefaultInstallFolder() + L"\\Portvane_PService.exe").c_str()));

    bool deleted = false;
    EXPECT_LT(
        Timed([&] { deleted = StopProductService(kPService) && DeleteProductService(kPService); }),
        1000u);
    EXPECT_TRUE(deleted) << GetLastError();
    EXPECT_FALSE(QueryService(kPService).registered);
}

// A registered service is never changed and stops the walk at once; a program
// holding a handle to the deleted service keeps its name, and the create waits
// until it lets go, within its bound, and otherwise says why it failed.
TEST_F(ServiceControlTest, CreateRefusesARegisteredNameAndWaitsForAHeldDeletedOne) {
    const std::wstring executable = DefaultInstallFolder() + L"\\Portvane_PService.exe";
    CopyStandin(L"Portvane_PService.exe", DefaultInstallFolder());
    ASSERT_TRUE(InstallService(kPService, executable.c_str()));
    SetInstallFolder(L"C:\\Elsewhere");
    LogWatch log;
    EXPECT_FALSE(InstallComponents());
    EXPECT_EQ(
        L"Portvane_PService をインストールできません。\n" + OsMessageLine(ERROR_SERVICE_EXISTS),
        log.Added());
    EXPECT_EQ(L"\"" + executable + L"\"", QueryService(kPService).binaryPath);
    EXPECT_FALSE(QueryService(kDService).registered);

    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle held(OpenServiceW(manager.get(), kPService, SERVICE_QUERY_STATUS));
    ASSERT_TRUE(held.valid());
    ASSERT_TRUE(StopProductService(kPService) && DeleteProductService(kPService));

    bool created = true;
    EXPECT_LT(Timed([&] { created = InstallService(kPService, executable.c_str(), 5); }), 1500u);
    EXPECT_FALSE(created);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_MARKED_FOR_DELETE), GetLastError());

    std::thread release([&] {
        Sleep(1500);
        held.reset();
    });
    const DWORD elapsed = Timed([&] { created = InstallService(kPService, executable.c_str()); });
    release.join();
    EXPECT_TRUE(created) << GetLastError();
    EXPECT_GE(elapsed, 1400u);
    EXPECT_LT(elapsed, 5000u);
    EXPECT_EQ(L"\"" + executable + L"\"", QueryService(kPService).binaryPath);
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
