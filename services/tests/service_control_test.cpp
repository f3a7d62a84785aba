// Single service operations against Wine's real service control manager.
#include "services/service_control.h"

#include <gtest/gtest.h>

#include "services/tests/service_test_support.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"

namespace {

constexpr const wchar_t* kStuckService = L"Portvane_TestStuck";

class ServiceControlTest : public ProductStateTest {
  protected:
    void SetUp() override {
        ProductStateTest::SetUp();
        folder_ = DefaultInstallFolder();
        CopyStandin(L"Portvane_PService.exe", folder_);
    }

    std::wstring PServicePath() const { return folder_ + L"\\Portvane_PService.exe"; }

    std::wstring folder_;
};

// Milliseconds an operation took.
template <typename Operation>
DWORD Timed(Operation operation) {
    const DWORD start = GetTickCount();
    operation();
    return GetTickCount() - start;
}

}  // namespace

TEST_F(ServiceControlTest, InstallRegistersOnceAndNeverReconfigures) {
    ASSERT_TRUE(InstallService(kPService, PServicePath().c_str()));
    EXPECT_EQ(L"\"" + PServicePath() + L"\"", QueryConfig(kPService).binaryPath);

    SetLastError(ERROR_SUCCESS);
    EXPECT_FALSE(InstallService(kPService, L"C:\\elsewhere\\other.exe"));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_EXISTS), GetLastError());
    EXPECT_EQ(L"\"" + PServicePath() + L"\"", QueryConfig(kPService).binaryPath);
}

TEST_F(ServiceControlTest, StartAndStopFollowTheManager) {
    EXPECT_FALSE(StartProductService(kPService));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());

    ASSERT_TRUE(InstallService(kPService, PServicePath().c_str()));
    ASSERT_TRUE(StartProductService(kPService));
    ASSERT_TRUE(WaitForServiceState(kPService, SERVICE_RUNNING, 10000));
    EXPECT_TRUE(StopProductService(kPService));
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kPService));

    // A stopped service refuses the stop request.
    EXPECT_FALSE(StopProductService(kPService));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), GetLastError());
}

TEST_F(ServiceControlTest, StopAndDeleteRemovesARunningService) {
    ASSERT_TRUE(InstallService(kPService, PServicePath().c_str()));
    ASSERT_TRUE(StartProductService(kPService));
    ASSERT_TRUE(WaitForServiceState(kPService, SERVICE_RUNNING, 10000));

    EXPECT_TRUE(StopAndDeleteService(kPService));
    bool registered = true;
    ASSERT_TRUE(IsServiceRegistered(kPService, &registered));
    EXPECT_FALSE(registered);
}

TEST_F(ServiceControlTest, StopAndDeleteKeepsAStoppedServiceAfterWaitingForIt) {
    ASSERT_TRUE(InstallService(kPService, PServicePath().c_str()));

    bool deleted = true;
    const DWORD elapsed = Timed([&] { deleted = StopAndDeleteService(kPService); });
    EXPECT_FALSE(deleted);
    // The cause, not whatever the wait for removal left behind.
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_NOT_ACTIVE), GetLastError());
    EXPECT_GE(elapsed, 2800u);  // all 30 polls of the wait for removal
    EXPECT_LT(elapsed, 6000u);
    EXPECT_TRUE(QueryConfig(kPService).registered);
}

TEST_F(ServiceControlTest, StopAndDeleteOfAnUnknownNameFailsAtOnce) {
    bool deleted = true;
    const DWORD elapsed = Timed([&] { deleted = StopAndDeleteService(kPService); });
    EXPECT_FALSE(deleted);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST), GetLastError());
    EXPECT_LT(elapsed, 1000u);
}

TEST_F(ServiceControlTest, RegisteredAnswersForKnownAndUnknownNames) {
    bool registered = true;
    ASSERT_TRUE(IsServiceRegistered(kPService, &registered));
    EXPECT_FALSE(registered);
    ASSERT_TRUE(InstallService(kPService, PServicePath().c_str()));
    ASSERT_TRUE(IsServiceRegistered(kPService, &registered));
    EXPECT_TRUE(registered);
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

TEST_F(StuckServiceTest, StopGivesUpAfterItsPollLimit) {
    const std::wstring path = BuildPath(L"services\\pv_test_stuck_service.exe");
    ASSERT_TRUE(InstallService(kStuckService, path.c_str()));
    ASSERT_TRUE(StartProductService(kStuckService));
    ASSERT_TRUE(WaitForServiceState(kStuckService, SERVICE_RUNNING, 10000));

    bool stopped = true;
    const DWORD elapsed = Timed([&] { stopped = StopProductService(kStuckService, 4); });
    EXPECT_FALSE(stopped);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SERVICE_REQUEST_TIMEOUT), GetLastError());
    EXPECT_GE(elapsed, 1900u);  // four waits of 500 ms
    EXPECT_LT(elapsed, 4000u);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOP_PENDING), ServiceState(kStuckService));
}
