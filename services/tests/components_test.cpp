// The table walks against Wine's real service control manager, with the
// stand-in services in the default install folder.
#include "services/components.h"

#include <gtest/gtest.h>

#include <cwchar>

#include "services/component_table.h"
#include "services/service_control.h"
#include "services/tests/service_test_support.h"
#include "testbed/product_state.h"

namespace {

class ComponentsTest : public ProductStateTest {
  protected:
    void SetUp() override {
        ProductStateTest::SetUp();
        folder_ = DefaultInstallFolder();
        CopyStandin(L"Portvane_PService.exe", folder_);
        CopyStandin(L"Portvane_DService.exe", folder_);
        SetInstallFolder(folder_);
    }

    std::wstring folder_;
};

}  // namespace

TEST(ComponentTable, HoldsTheTwoServicesForEveryComputer) {
    ASSERT_EQ(2u, kComponentCount);
    EXPECT_STREQ(L"Portvane_PService.exe", kComponentTable[0].fileName);
    EXPECT_STREQ(L"Portvane_PService", kComponentTable[0].serviceName);
    EXPECT_STREQ(L"Portvane_DService.exe", kComponentTable[1].fileName);
    EXPECT_STREQ(L"Portvane_DService", kComponentTable[1].serviceName);
    for (const ComponentRow& row : kComponentTable) {
        EXPECT_EQ(kComponentService, row.kind);
        EXPECT_EQ(0, row.processorCondition);
        EXPECT_EQ(0, row.reserved);
        EXPECT_TRUE(ComponentApplies(row));
    }
}

TEST(ComponentExecutablePath, JoinsOrRefusesWithoutCutting) {
    wchar_t path[kPathChars];
    ASSERT_TRUE(ComponentExecutablePath(L"C:\\Program Files (x86)\\ORBEK\\Portvane",
                                        L"Portvane_PService.exe", path));
    EXPECT_STREQ(L"C:\\Program Files (x86)\\ORBEK\\Portvane\\Portvane_PService.exe", path);

    // 259 characters is the longest path a 260-character buffer holds.
    const std::wstring folder = L"C:\\" + std::wstring(259 - 3 - 1 - 5, L'a');
    ASSERT_TRUE(ComponentExecutablePath(folder.c_str(), L"x.exe", path));
    EXPECT_EQ(259u, wcslen(path));
    const std::wstring longer = folder + L"a";
    EXPECT_FALSE(ComponentExecutablePath(longer.c_str(), L"x.exe", path));
    EXPECT_STREQ(L"", path);

    // An empty install folder would register a relative path.
    EXPECT_FALSE(ComponentExecutablePath(L"", L"Portvane_PService.exe", path));
}

TEST_F(ComponentsTest, InstallCreatesAndStartsBothServicesQuoted) {
    LogWatch log;
    ASSERT_TRUE(InstallComponents());
    EXPECT_EQ(L"", log.Added());

    for (const wchar_t* name : {kPService, kDService}) {
        const ServiceConfig config = QueryConfig(name);
        ASSERT_TRUE(config.registered) << testing::PrintToString(std::wstring(name));
        EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), config.serviceType);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), config.startType);
        EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), config.errorControl);
        EXPECT_EQ(L"LocalSystem", config.account);
        EXPECT_EQ(name, config.displayName);
        // Quoted: the folder has blanks ("Program Files (x86)").
        EXPECT_EQ(L"\"" + folder_ + L"\\" + name + L".exe\"", config.binaryPath);
        EXPECT_TRUE(WaitForServiceState(name, SERVICE_RUNNING, 10000));
    }
    EXPECT_TRUE(AnyComponentRegistered());
}

TEST_F(ComponentsTest, AlreadyRegisteredFirstServiceStopsTheInstall) {
    ASSERT_TRUE(InstallService(kPService, (folder_ + L"\\Portvane_PService.exe").c_str()));
    LogWatch log;
    EXPECT_FALSE(InstallComponents());
    EXPECT_EQ(
        L"Portvane_PService をインストールできません。\n" + OsMessageLine(ERROR_SERVICE_EXISTS),
        log.Added());
    EXPECT_FALSE(QueryConfig(kDService).registered);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kPService));
}

TEST_F(ComponentsTest, SecondServiceThatCannotStartLeavesTheFirstRunning) {
    DeleteFileW((folder_ + L"\\Portvane_DService.exe").c_str());
    LogWatch log;
    EXPECT_FALSE(InstallComponents());
    const std::wstring added = log.Added();
    const std::wstring line = L"Portvane_DService を開始できません。\n";
    ASSERT_EQ(line, added.substr(0, line.size()));
    EXPECT_EQ(line.size(), added.find(L"OS Message:"));
    EXPECT_EQ(L'\n', added.back());

    EXPECT_TRUE(WaitForServiceState(kPService, SERVICE_RUNNING, 10000));
    EXPECT_TRUE(QueryConfig(kDService).registered);
    EXPECT_EQ(static_cast<DWORD>(SERVICE_STOPPED), ServiceState(kDService));
}

TEST_F(ComponentsTest, InstallFolderTooLongRegistersNothingAndLogsNothing) {
    const std::wstring deep = L"C:\\" + std::wstring(240, L'p');
    SetInstallFolder(deep);
    LogWatch log;
    EXPECT_FALSE(InstallComponents());
    EXPECT_EQ(L"", log.Added());
    EXPECT_FALSE(AnyComponentRegistered());
}

TEST_F(ComponentsTest, RemoveStopsAndDeletesRunningServices) {
    ASSERT_TRUE(InstallComponents());
    ASSERT_TRUE(WaitForServiceState(kDService, SERVICE_RUNNING, 10000));
    LogWatch log;
    EXPECT_TRUE(RemoveComponents());
    EXPECT_EQ(L"", log.Added());
    EXPECT_FALSE(AnyComponentRegistered());
    // The files are free again once the processes are gone.
    EXPECT_TRUE(DeleteFileW((folder_ + L"\\Portvane_PService.exe").c_str()));
}

TEST_F(ComponentsTest, RemoveLogsAStoppedServiceAndGoesOn) {
    ASSERT_TRUE(InstallService(kPService, (folder_ + L"\\Portvane_PService.exe").c_str()));
    ASSERT_TRUE(InstallService(kDService, (folder_ + L"\\Portvane_DService.exe").c_str()));
    ASSERT_TRUE(StartProductService(kDService));
    ASSERT_TRUE(WaitForServiceState(kDService, SERVICE_RUNNING, 10000));

    LogWatch log;
    EXPECT_TRUE(RemoveComponents());
    EXPECT_EQ(L"Portvane_PService を削除できません。\n" + OsMessageLine(ERROR_SERVICE_NOT_ACTIVE),
              log.Added());
    EXPECT_TRUE(QueryConfig(kPService).registered);
    EXPECT_FALSE(QueryConfig(kDService).registered);
}

TEST_F(ComponentsTest, RemoveWithNothingRegisteredLogsEachService) {
    LogWatch log;
    EXPECT_TRUE(RemoveComponents());
    const std::wstring notRegistered = OsMessageLine(ERROR_SERVICE_DOES_NOT_EXIST);
    EXPECT_EQ(L"Portvane_PService を削除できません。\n" + notRegistered +
                  L"Portvane_DService を削除できません。\n" + notRegistered,
              log.Added());
}

TEST_F(ComponentsTest, AnyRegisteredSeesEitherService) {
    EXPECT_FALSE(AnyComponentRegistered());
    ASSERT_TRUE(InstallService(kDService, (folder_ + L"\\Portvane_DService.exe").c_str()));
    EXPECT_TRUE(AnyComponentRegistered());
}
