// The install worker end to end against the prefix's real file system, registry
// and service manager: one clean run and each way the sequence can stop.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

#include "install/tests/installed_state.h"
#include "install/tests/log_match.h"
#include "install/tests/worker_fixture.h"
#include "payload/module_table.h"
#include "platform/scoped_handle.h"
#include "setup/process_state.h"
#include "testbed/product_state.h"

namespace {

const wchar_t* const kServiceNames[] = {L"Portvane_PService", L"Portvane_DService"};

void ExpectServiceInstalled(const wchar_t* name, const std::wstring& executable) {
    const ServiceState service = QueryProductService(name);
    ASSERT_TRUE(service.registered) << name;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), service.serviceType) << name;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), service.startType) << name;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), service.errorControl) << name;
    EXPECT_EQ(L"LocalSystem", service.account) << name;
    // Quoted: the folder has blanks, and an unquoted LocalSystem path would
    // first be tried as C:\Program.exe.
    EXPECT_EQ(L"\"" + executable + L"\"", service.binaryPath) << name;
}

void ExpectShortcutTo(const std::wstring& link, const std::wstring& application) {
    const ShortcutTarget read = ReadShortcut(link);
    ASSERT_TRUE(read.loaded) << link;
    EXPECT_EQ(0, _wcsicmp(application.c_str(), read.path.c_str())) << read.path;
    EXPECT_EQ(L"", read.arguments);
    EXPECT_EQ(L"", read.workingFolder);
}

}  // namespace

TEST_F(WorkerTest, CleanPrefixGetsTheWholeInstallation) {
    const WorkerResult result = RunWorker();

    EXPECT_EQ(kMessageInstallSucceeded, result.message);
    EXPECT_EQ(1, result.messageCount);
    EXPECT_EQ(0u, result.wParam);
    EXPECT_EQ(0, result.lParam);
    EXPECT_TRUE(result.senderWaited);
    EXPECT_EQ(1u, result.exitCode);
    EXPECT_EQ(L"", AddedLog());

    const std::wstring folder = DefaultInstallFolder();
    EXPECT_EQ(folder, g_installFolderPath);
    EXPECT_TRUE(PathIsFolder(ProgramFilesFolder() + L"\\ORBEK"));
    EXPECT_TRUE(PathIsFolder(folder));
    long long copiedBytes = 0;
    for (const PayloadModule* module = kModuleTable; module->fileName != nullptr; ++module) {
        const long long size = FileSizeOf(PayloadFile(module->fileName));
        ASSERT_GT(size, 0);
        EXPECT_EQ(size, FileSizeOf(InstalledPath(module->fileName))) << module->fileName;
        copiedBytes += size;
    }

    for (const wchar_t* name : kServiceNames) {
        ExpectServiceInstalled(name, InstalledPath((std::wstring(name) + L".exe").c_str()));
        EXPECT_TRUE(WaitUntilRunning(name, 10000)) << name;
    }

    const std::wstring application = InstalledPath(L"Portvane.exe");
    ExpectShortcutTo(StartMenuShortcutPath(), application);
    ExpectShortcutTo(DesktopShortcutPath(), application);

    const RegistryValue mark = ReadValue(HKEY_CURRENT_USER, kSettingsKey, L"Install");
    EXPECT_TRUE(mark.found && mark.type == REG_DWORD && mark.number == 1);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey, KEY_WOW64_32KEY));
    EXPECT_EQ(0u, ValueCount(HKEY_LOCAL_MACHINE, kSettingsKey));

    EXPECT_EQ(11u, ValueCount(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
    EXPECT_TRUE(UninstallTextIs(L"DisplayName", L"Portvane"));
    EXPECT_TRUE(UninstallTextIs(L"UninstallString", L"\"" + InstalledPath(L"Uninst.exe") +
                                                        L"\" \"ORBEK_Portvane\" \"Portvane\""));
    EXPECT_TRUE(UninstallTextIs(L"DisplayVersion", L"Ver.1.0.0"));
    EXPECT_TRUE(UninstallTextIs(L"Publisher", L"ORBEK"));
    EXPECT_TRUE(UninstallTextIs(L"DisplayIcon", application));
    EXPECT_TRUE(UninstallTextIs(L"HelpLink", L"https://www.orbek.co.jp/"));
    EXPECT_TRUE(UninstallTextIs(L"URLInfoAbout", L"https://www.orbek.co.jp/"));
    EXPECT_TRUE(UninstallTextIs(L"URLUpdateInfo", L"https://www.orbek.co.jp/"));
    EXPECT_TRUE(UninstallNumberIs(L"NoModify", 1));
    EXPECT_TRUE(UninstallNumberIs(L"NoRepair", 1));
    EXPECT_TRUE(UninstallNumberIs(L"EstimatedSize", static_cast<DWORD>(copiedBytes >> 10)));

    // About one second after the last registry write (FILETIME: 100 ns units).
    const ULONGLONG lastWrite = KeyWriteTime(HKEY_LOCAL_MACHINE, kUninstallEntryKey);
    ASSERT_GT(result.receivedAt, lastWrite);
    const ULONGLONG delayMs = (result.receivedAt - lastWrite) / 10000;
    EXPECT_GE(delayMs, 950u);
    EXPECT_LE(delayMs, 1500u);
}

TEST_F(WorkerTest, ThirdModuleThatCannotBeCopiedEndsTheInstallation) {
    // The staged source held without sharing: the copy is refused by the system.
    ScopedFileHandle held(CreateFileW(StagedPath(L"Portvane_DService.exe").c_str(), GENERIC_READ, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    const WorkerResult result = RunWorker();
    held.reset();

    EXPECT_EQ(kMessageInstallFailed, result.message);
    EXPECT_EQ(0u, result.exitCode);
    const std::wstring target = InstalledPath(L"Portvane_DService.exe");
    EXPECT_TRUE(LogMatches(AddedLog(), {LogLine(target + L" をコピーできません。"),
                                        OsMessageLine(ERROR_SHARING_VIOLATION)}))
        << AddedLog();
    EXPECT_TRUE(PathIsFile(InstalledPath(L"Portvane.exe")));
    EXPECT_TRUE(PathIsFile(InstalledPath(L"Portvane_PService.exe")));
    for (const PayloadModule* module = kModuleTable + 2; module->fileName != nullptr; ++module) {
        EXPECT_FALSE(PathIsFile(InstalledPath(module->fileName))) << module->fileName;
    }
    ExpectNoServices();
    ExpectNoShortcuts();
    ExpectNoRegistration();
}

TEST_F(WorkerTest, StagingPathThatWouldNotFitFailsTheCopyUncut) {
    const std::wstring longStaging = L"C:\\" + std::wstring(247, L's');
    wcscpy_s(g_stagingFolderPath, longStaging.c_str());
    const WorkerResult result = RunWorker();

    EXPECT_EQ(kMessageInstallFailed, result.message);
    EXPECT_TRUE(
        LogMatches(AddedLog(), {LogLine(InstalledPath(L"Portvane.exe") + L" をコピーできません。"),
                                OsMessageLine(ERROR_FILENAME_EXCED_RANGE)}))
        << AddedLog();
    EXPECT_TRUE(PathIsFolder(DefaultInstallFolder()));
    EXPECT_FALSE(PathIsFile(InstalledPath(L"Portvane.exe")));
    ExpectNoServices();
    ExpectNoRegistration();
}

TEST_F(WorkerTest, ProductFolderThatCannotBeCreatedIsLogged) {
    // A file where the maker folder belongs: it is taken as the folder, and the
    // product folder cannot be made inside it.
    const std::wstring makerFolder = ProgramFilesFolder() + L"\\ORBEK";
    ScopedFileHandle file(
        CreateFileW(makerFolder.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr));
    ASSERT_TRUE(file.valid());
    file.reset();
    ASSERT_TRUE(PathIsFile(makerFolder));
    const WorkerResult result = RunWorker();
    DeleteFileW(makerFolder.c_str());

    EXPECT_EQ(kMessageInstallFailed, result.message);
    EXPECT_TRUE(LogMatches(
        AddedLog(), {LogLine(DefaultInstallFolder() + L" を作成できません。"), OsMessageLine()}))
        << AddedLog();
    ExpectNoServices();
    ExpectNoRegistration();
}

TEST_F(WorkerTest, AlreadyRegisteredFirstServiceIsNeitherChangedNorPassed) {
    const std::wstring elsewhere = StagedPath(L"Portvane_PService.exe");
    {
        ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
        ScopedServiceHandle service(CreateServiceW(
            manager.get(), L"Portvane_PService", L"Portvane_PService", SERVICE_ALL_ACCESS,
            SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL,
            elsewhere.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
        ASSERT_TRUE(service.valid());
    }
    const WorkerResult result = RunWorker();

    EXPECT_EQ(kMessageInstallFailed, result.message);
    // The stopped service is found as an earlier installation that cannot be
    // removed; the removal goes on, and then its create fails.
    EXPECT_TRUE(
        LogMatches(AddedLog(), {LogLine(L"Portvane_PService を削除できません。"), OsMessageLine(),
                                LogLine(L"Portvane_DService を削除できません。"), OsMessageLine(),
                                LogLine(L"Portvane_PService をインストールできません。"),
                                OsMessageLine(ERROR_SERVICE_EXISTS),
                                LogLine(L"サービスおよびドライバーをインストールできません。")}))
        << AddedLog();
    const ServiceState kept = QueryProductService(L"Portvane_PService");
    EXPECT_EQ(static_cast<DWORD>(SERVICE_DEMAND_START), kept.startType);
    EXPECT_EQ(elsewhere, kept.binaryPath);
    EXPECT_FALSE(QueryProductService(L"Portvane_DService").registered);
    EXPECT_TRUE(PathIsFile(InstalledPath(L"Uninst.exe")));
    ExpectNoShortcuts();
    ExpectNoRegistration();
}

TEST_F(WorkerTest, SecondServiceThatCannotStartEndsTheInstallation) {
    // A console program in the service's place never reports to the manager.
    ASSERT_TRUE(CopyFileW(PayloadFile(L"dm.exe").c_str(),
                          StagedPath(L"Portvane_DService.exe").c_str(), FALSE));
    const WorkerResult result = RunWorker();

    EXPECT_EQ(kMessageInstallFailed, result.message);
    EXPECT_TRUE(
        LogMatches(AddedLog(), {LogLine(L"Portvane_DService を開始できません。"), OsMessageLine(),
                                LogLine(L"サービスおよびドライバーをインストールできません。")}))
        << AddedLog();
    EXPECT_TRUE(WaitUntilRunning(L"Portvane_PService", 10000));
    ExpectServiceInstalled(L"Portvane_DService", InstalledPath(L"Portvane_DService.exe"));
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING),
              QueryProductService(L"Portvane_DService").currentState);
    ExpectNoShortcuts();
    ExpectNoRegistration();
}

TEST_F(WorkerTest, DesktopShortcutPathThatWouldNotFitFailsWithoutALine) {
    const DesktopFolderOverride desktop(L"C:\\" + std::wstring(247, L'd'));
    const WorkerResult result = RunWorker();

    EXPECT_EQ(kMessageInstallFailed, result.message);
    EXPECT_EQ(L"", AddedLog());
    EXPECT_TRUE(PathIsFile(StartMenuShortcutPath()));
    ExpectNoRegistration();
}

TEST_F(WorkerTest, UninstallKeyThatCannotBeCreatedEndsTheInstallationLast) {
    ASSERT_TRUE(MakeUninstallRootVolatile());
    const WorkerResult result = RunWorker();
    RestoreUninstallRoot();

    EXPECT_EQ(kMessageInstallFailed, result.message);
    EXPECT_TRUE(LogMatches(AddedLog(), {LogLine(L"アプリケーション設定を保存できません。"),
                                        OsMessageLine(ERROR_CHILD_MUST_BE_VOLATILE)}))
        << AddedLog();
    EXPECT_TRUE(WaitUntilRunning(L"Portvane_DService", 10000));
    EXPECT_TRUE(PathIsFile(StartMenuShortcutPath()));
    EXPECT_TRUE(PathIsFile(DesktopShortcutPath()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
}

TEST_F(WorkerTest, ResultIsSentEvenWhenTheFirstStepFails) {
    // An entry whose command splits into two arguments cannot be removed.
    const wchar_t twoArguments[] = L"\"C:\\Old\\Uninst.exe\" \"ORBEK_Portvane\"";
    ASSERT_EQ(ERROR_SUCCESS,
              RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"UninstallString", REG_SZ,
                              twoArguments, sizeof(twoArguments)));
    const WorkerResult result = RunWorker();

    EXPECT_EQ(kMessageInstallFailed, result.message);
    EXPECT_EQ(1, result.messageCount);
    EXPECT_TRUE(result.senderWaited);
    EXPECT_EQ(0u, result.exitCode);
    EXPECT_GE(result.elapsedMs, 1000u);
    EXPECT_EQ(L"アンインストール処理に失敗しました。\n", AddedLog());
    EXPECT_FALSE(PathIsFolder(ProgramFilesFolder() + L"\\ORBEK"));
    ExpectNoServices();
    ExpectNoShortcuts();
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
}
