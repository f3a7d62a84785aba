// The install worker against the prefix's real file system, registry and service
// manager, run as the wizard runs it: the ten stand-in files in a fresh staging
// folder, a thread started with _beginthreadex, and a hidden window whose message
// loop waits for the result. One clean run and each way the sequence can stop.
#include "install/worker.h"

#include <windows.h>
#include <process.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>

#include "install/tests/shell_state.h"
#include "payload/module_table.h"
#include "platform/scoped_handle.h"
#include "services/service_control.h"
#include "services/service_registration.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

namespace {

// Long enough for two service waits of Wine's service manager.
constexpr ULONGLONG kWorkerTimeoutMs = 240000;
// Positions in kInstallSteps.
constexpr int kServicesStep = 3;
constexpr int kShortcutsStep = 4;
constexpr int kRegistryStep = 5;
constexpr int kNoStep = 6;

struct WorkerResult {
    UINT message = 0;  // 0 when none arrived
    int messageCount = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    ULONGLONG receivedAt = 0;   // system time (FILETIME units) when the window got it
    bool senderWaited = false;  // the worker was blocked in SendMessageW meanwhile
    DWORD exitCode = STILL_ACTIVE;
    ULONGLONG elapsedMs = 0;  // from the start until the message
};

WorkerResult g_received;
HANDLE g_workerThread = nullptr;
ULONGLONG g_workerStarted = 0;

LRESULT CALLBACK ResultWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message != kMessageInstallSucceeded && message != kMessageInstallFailed) {
        return DefWindowProcW(window, message, wParam, lParam);
    }
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    g_received.receivedAt = (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    g_received.elapsedMs = GetTickCount64() - g_workerStarted;
    g_received.message = message;
    g_received.wParam = wParam;
    g_received.lParam = lParam;
    g_received.senderWaited = WaitForSingleObject(g_workerThread, 0) == WAIT_TIMEOUT;
    ++g_received.messageCount;
    return 0;
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

class WorkerTest : public testing::Test {
  protected:
    void SetUp() override {
        ResetProductState();
        wchar_t temp[MAX_PATH];
        GetTempPathW(MAX_PATH, temp);
        staging_ = std::wstring(temp) + L"pv_staging_" + std::to_wstring(GetCurrentProcessId());
        DeleteTree(staging_);
        ASSERT_TRUE(CreateDirectoryW(staging_.c_str(), nullptr));
        for (const PayloadModule* module = kModuleTable; module->fileName != nullptr; ++module) {
            ASSERT_TRUE(CopyFileW(PayloadFile(module->fileName).c_str(),
                                  StagedPath(module->fileName).c_str(), FALSE))
                << "stand-in missing: build pv_standin_payload";
        }
        wcscpy_s(g_stagingFolderPath, staging_.c_str());
        g_installFolderPath[0] = L'\0';

        WNDCLASSW windowClass = {};
        windowClass.lpfnWndProc = ResultWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"PortvaneWorkerTestWindow";
        RegisterClassW(&windowClass);
        window_ = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                  nullptr, windowClass.hInstance, nullptr);
        ASSERT_NE(nullptr, window_);
        g_wizardDialogWindow = window_;
        logBefore_ = ReadLogText();
    }

    void TearDown() override {
        DestroyWindow(window_);
        DeleteTree(staging_);
        ResetProductState();
    }

    WorkerResult RunWorker() {
        g_received = WorkerResult();
        g_workerStarted = GetTickCount64();
        ScopedKernelHandle thread(reinterpret_cast<HANDLE>(
            _beginthreadex(nullptr, 0, InstallWorkerEntry, nullptr, 0, nullptr)));
        g_workerThread = thread.get();
        // The result messages are handled while this thread waits for the worker's end.
        while (thread && MsgWaitForMultipleObjects(1, &g_workerThread, FALSE, kWorkerTimeoutMs,
                                                   QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
            PumpMessages();
        }
        GetExitCodeThread(thread.get(), &g_received.exitCode);
        g_workerThread = nullptr;
        return g_received;
    }

    std::wstring AddedLog() const { return std::wstring(ReadLogText()).substr(logBefore_.size()); }
    std::wstring StagedPath(const wchar_t* fileName) const { return staging_ + L"\\" + fileName; }
    static std::wstring InstalledPath(const std::wstring& fileName) {
        return DefaultInstallFolder() + L"\\" + fileName;
    }
    static std::wstring PayloadFile(const wchar_t* fileName) {
        return BuildPath(std::wstring(L"payload-files\\") + fileName);
    }

    // One failure message, exactly these log lines, and nothing in the prefix of
    // what the steps from firstUndone on would have made.
    void ExpectFailure(const WorkerResult& result, const std::wstring& log, int firstUndone) const {
        EXPECT_EQ(kMessageInstallFailed, result.message);
        EXPECT_EQ(1, result.messageCount);
        EXPECT_EQ(0u, result.exitCode);
        EXPECT_EQ(log, AddedLog());
        if (firstUndone <= kServicesStep) {
            EXPECT_FALSE(QueryService(kPService).registered);
            EXPECT_FALSE(QueryService(kDService).registered);
        }
        if (firstUndone <= kShortcutsStep) {
            EXPECT_FALSE(PathExists(StartMenuShortcutPath()));
            EXPECT_FALSE(PathExists(DesktopShortcutPath()));
        }
        if (firstUndone <= kRegistryStep) {
            EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
            EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
        }
    }

    std::wstring staging_;
    std::wstring logBefore_;
    HWND window_ = nullptr;
};

void ExpectServiceInstalled(const wchar_t* name, const std::wstring& executable) {
    const ServiceInfo service = QueryService(name);
    ASSERT_TRUE(service.registered) << name;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS), service.serviceType) << name;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_AUTO_START), service.startType) << name;
    EXPECT_EQ(static_cast<DWORD>(SERVICE_ERROR_NORMAL), service.errorControl) << name;
    EXPECT_EQ(L"LocalSystem", service.account) << name;
    EXPECT_EQ(name, service.displayName);
    // Unquoted, a LocalSystem path with blanks would first be tried as C:\Program.exe.
    EXPECT_EQ(L"\"" + executable + L"\"", service.binaryPath) << name;
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

    EXPECT_EQ(DefaultInstallFolder(), g_installFolderPath);
    long long copiedBytes = 0;
    for (const PayloadModule* module = kModuleTable; module->fileName != nullptr; ++module) {
        const long long size = FileSize(PayloadFile(module->fileName));
        ASSERT_GT(size, 0);
        EXPECT_EQ(size, FileSize(InstalledPath(module->fileName))) << module->fileName;
        copiedBytes += size;
    }
    for (const wchar_t* name : {kPService, kDService}) {
        ExpectServiceInstalled(name, InstalledPath(name + std::wstring(L".exe")));
        EXPECT_TRUE(WaitForServiceState(name, SERVICE_RUNNING)) << name;
    }
    const std::wstring application = InstalledPath(L"Portvane.exe");
    for (const std::wstring& link : {StartMenuShortcutPath(), DesktopShortcutPath()}) {
        const ShortcutTarget read = ReadShortcut(link);
        EXPECT_TRUE(read.loaded) << link;
        EXPECT_EQ(0, _wcsicmp(application.c_str(), read.path.c_str())) << read.path;
        EXPECT_EQ(L"", read.arguments);
        EXPECT_EQ(L"", read.workingFolder);
    }

    // Only "Install" = 1 for the user, an empty machine key; both in the 32-bit view only.
    const RegistryValue mark = ReadValue(HKEY_CURRENT_USER, kSettingsKey, L"Install");
    EXPECT_TRUE(mark.type == REG_DWORD && mark.number == 1);
    EXPECT_EQ(1u, ValueCount(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_EQ(0u, ValueCount(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey, KEY_WOW64_64KEY));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey, KEY_WOW64_64KEY));

    EXPECT_EQ(11u, ValueCount(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
    const std::wstring site = L"https://www.orbek.co.jp/";
    const std::pair<const wchar_t*, std::wstring> texts[] = {
        {L"DisplayName", L"Portvane"},
        {L"UninstallString",
         L"\"" + InstalledPath(L"Uninst.exe") + L"\" \"ORBEK_Portvane\" \"Portvane\""},
        {L"DisplayVersion", L"Ver.1.0.0"},
        {L"Publisher", L"ORBEK"},
        {L"DisplayIcon", application},
        {L"HelpLink", site},
        {L"URLInfoAbout", site},
        {L"URLUpdateInfo", site}};
    for (const auto& [name, text] : texts) {
        const RegistryValue value = ReadValue(HKEY_LOCAL_MACHINE, kUninstallEntryKey, name);
        EXPECT_EQ(static_cast<DWORD>(REG_SZ), value.type) << name;
        EXPECT_EQ((text.size() + 1) * sizeof(wchar_t), value.size) << name;
        EXPECT_EQ(text, value.text) << name;
    }
    const std::pair<const wchar_t*, DWORD> numbers[] = {
        {L"NoModify", 1}, {L"NoRepair", 1}, {L"EstimatedSize", DWORD(copiedBytes >> 10)}};
    for (const auto& [name, number] : numbers) {
        const RegistryValue value = ReadValue(HKEY_LOCAL_MACHINE, kUninstallEntryKey, name);
        EXPECT_TRUE(value.type == REG_DWORD && value.size == 4 && value.number == number) << name;
    }

    // About one second after the last registry write (FILETIME: 100 ns units).
    FILETIME written = {};
    ScopedRegistryKey entry;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, 0, KEY_READ, entry.receive());
    RegQueryInfoKeyW(entry.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                     nullptr, nullptr, nullptr, &written);
    const ULONGLONG lastWrite =
        (static_cast<ULONGLONG>(written.dwHighDateTime) << 32) | written.dwLowDateTime;
    ASSERT_GT(result.receivedAt, lastWrite);
    EXPECT_GE((result.receivedAt - lastWrite) / 10000, 950u);
    EXPECT_LE((result.receivedAt - lastWrite) / 10000, 1500u);
}

TEST_F(WorkerTest, CopyOverwritesReadOnlyFilesInExistingFoldersButNeverCutsAPath) {
    const std::wstring makerFolder = ProgramFilesFolder() + L"\\ORBEK";
    ASSERT_TRUE(CreateDirectoryW(makerFolder.c_str(), nullptr));
    ASSERT_TRUE(CreateDirectoryW(DefaultInstallFolder().c_str(), nullptr));
    const std::wstring other = makerFolder + L"\\Other.txt";
    for (const std::wstring& path : {InstalledPath(L"Portvane.exe"), other}) {
        ScopedFileHandle file(
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), "earlier", 7, &written, nullptr));
        file.reset();
        SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_READONLY);
    }
    ASSERT_TRUE(CreateInstallFolders());
    EXPECT_EQ(DefaultInstallFolder(), g_installFolderPath);

    // A source path that would not fit fails the step with its line, copying nothing.
    wcscpy_s(g_stagingFolderPath, (L"C:\\" + std::wstring(247, L's')).c_str());
    InstallRun run = {};
    EXPECT_FALSE(CopyPayloadModules(run));
    EXPECT_EQ(InstalledPath(L"Portvane.exe") + L" をコピーできません。\n" +
                  OsMessageLine(ERROR_FILENAME_EXCED_RANGE),
              AddedLog());
    EXPECT_EQ(7, FileSize(InstalledPath(L"Portvane.exe")));

    // A scanner's look at an installed file only delays its copy.
    logBefore_ = ReadLogText();
    wcscpy_s(g_stagingFolderPath, staging_.c_str());
    ScopedFileHandle scanned(CreateFileW(InstalledPath(L"Portvane.exe").c_str(), GENERIC_READ,
                                         FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(scanned.valid());
    std::thread scanner([&scanned] {
        Sleep(500);
        scanned.reset();
    });
    const bool copied = CopyPayloadModules(run);
    scanner.join();
    ASSERT_TRUE(copied);
    long long copiedBytes = 0;
    for (const PayloadModule* module = kModuleTable; module->fileName != nullptr; ++module) {
        const std::wstring installed = InstalledPath(module->fileName);
        EXPECT_EQ(FileSize(StagedPath(module->fileName)), FileSize(installed));
        EXPECT_FALSE(GetFileAttributesW(installed.c_str()) & FILE_ATTRIBUTE_READONLY);
        copiedBytes += FileSize(StagedPath(module->fileName));
    }
    EXPECT_EQ(static_cast<unsigned>(copiedBytes), run.copiedBytes);
    EXPECT_EQ(InstalledPath(L"Uninst.exe"), run.uninstallerPath);
    EXPECT_TRUE(PathExists(other));
    EXPECT_EQ(L"", AddedLog());
    SetFileAttributesW(other.c_str(), FILE_ATTRIBUTE_NORMAL);
}

TEST_F(WorkerTest, ThirdModuleThatCannotBeCopiedEndsTheInstallation) {
    // The staged source held without sharing: the system refuses the copy.
    ScopedFileHandle held(CreateFileW(StagedPath(L"Portvane_DService.exe").c_str(), GENERIC_READ, 0,
                                      nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(held.valid());
    const WorkerResult result = RunWorker();
    held.reset();

    ExpectFailure(result,
                  InstalledPath(L"Portvane_DService.exe") + L" をコピーできません。\n" +
                      OsMessageLine(ERROR_SHARING_VIOLATION),
                  kServicesStep);
    for (const PayloadModule* module = kModuleTable; module->fileName != nullptr; ++module) {
        EXPECT_EQ(module < kModuleTable + 2, PathExists(InstalledPath(module->fileName)))
            << module->fileName;
    }
}

TEST_F(WorkerTest, ProductFolderThatCannotBeCreatedIsLogged) {
    // A file where the maker folder belongs is taken for the folder; the product
    // folder cannot be made inside it.
    const std::wstring makerFolder = ProgramFilesFolder() + L"\\ORBEK";
    ASSERT_TRUE(ScopedFileHandle(CreateFileW(makerFolder.c_str(), GENERIC_WRITE, 0, nullptr,
                                             CREATE_NEW, 0, nullptr))
                    .valid());
    const WorkerResult result = RunWorker();
    DeleteFileW(makerFolder.c_str());

    ExpectFailure(
        result,
        DefaultInstallFolder() + L" を作成できません。\n" + OsMessageLine(ERROR_PATH_NOT_FOUND),
        kServicesStep);
}

TEST_F(WorkerTest, AlreadyRegisteredStoppedFirstServiceIsReplaced) {
    ASSERT_TRUE(InstallService(kPService, StagedPath(L"Portvane_PService.exe").c_str()));
    const WorkerResult result = RunWorker();

    // The stopped service betrays an earlier installation; it is kept and
    // brought to the installed configuration, and the missing second one made.
    EXPECT_EQ(kMessageInstallSucceeded, result.message);
    EXPECT_EQ(L"", AddedLog());
    for (const wchar_t* name : {kPService, kDService}) {
        ExpectServiceInstalled(name, InstalledPath(name + std::wstring(L".exe")));
        EXPECT_TRUE(WaitForServiceState(name, SERVICE_RUNNING)) << name;
    }
}

// A user may fill the disk: found before the removal, which leaves the
// earlier service as it was. A tiny file system takes the maker folder's place.
TEST_F(WorkerTest, VolumeWithoutRoomForTheFilesEndsTheInstallationBeforeTheRemoval) {
    ASSERT_TRUE(InstallService(kPService, StagedPath(L"Portvane_PService.exe").c_str()));
    const std::wstring maker = ProgramFilesFolder() + L"\\ORBEK";
    const std::wstring script = StagedPath(L"mount-small.sh");
    {
        ScopedFileHandle file(CreateFileW(script.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, 0, nullptr));
        const char text[] = "mount -t tmpfs -o size=64k tmpfs \"$1\"\n";
        DWORD written = 0;
        ASSERT_TRUE(WriteFile(file.get(), text, sizeof(text) - 1, &written, nullptr));
    }
    ASSERT_TRUE(CreateDirectoryW(maker.c_str(), nullptr));
    if (!RunUnix("sh", "-e", script, maker)) {
        GTEST_SKIP() << "no file system can be mounted here";
    }
    const WorkerResult result = RunWorker();
    RunUnix("umount", "-l", maker);

    EXPECT_EQ(kMessageInstallFailed, result.message);
    EXPECT_EQ(InstalledPath(L"Portvane.exe") + L" をコピーできません。\n" +
                  OsMessageLine(ERROR_DISK_FULL),
              AddedLog());
    EXPECT_TRUE(QueryService(kPService).registered);
}

TEST_F(WorkerTest, SecondServiceThatCannotStartEndsTheInstallation) {
    // A console program in the service's place never reports to the manager.
    ASSERT_TRUE(CopyFileW(PayloadFile(L"dm.exe").c_str(),
                          StagedPath(L"Portvane_DService.exe").c_str(), FALSE));
    const WorkerResult result = RunWorker();

    ExpectFailure(result,
                  L"Portvane_DService を開始できません。\n" +
                      OsMessageLine(ERROR_SERVICE_REQUEST_TIMEOUT) +
                      L"サービスおよびドライバーをインストールできません。\n",
                  kShortcutsStep);
    EXPECT_TRUE(WaitForServiceState(kPService, SERVICE_RUNNING));
    ExpectServiceInstalled(kDService, InstalledPath(L"Portvane_DService.exe"));
    EXPECT_NE(static_cast<DWORD>(SERVICE_RUNNING), QueryService(kDService).currentState);
}

// Shortcut failures end the installation without a line of their own.
TEST_F(WorkerTest, DesktopShortcutPathThatWouldNotFitFailsWithoutALine) {
    const DesktopFolderOverride desktop(L"C:\\" + std::wstring(247, L'd'));
    const WorkerResult result = RunWorker();

    ExpectFailure(result, L"", kRegistryStep);
    EXPECT_TRUE(PathExists(StartMenuShortcutPath()));
}

TEST_F(WorkerTest, UninstallKeyThatCannotBeCreatedEndsTheInstallationLast) {
    // Wine refuses a lasting key below a volatile one. RegDeleteKeyW refuses a key
    // with subkeys, so no entry of the prefix is lost by replacing the Uninstall key.
    const wchar_t uninstallRoot[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
    const LONG deleted = RegDeleteKeyW(HKEY_LOCAL_MACHINE, uninstallRoot);
    ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND);
    ScopedRegistryKey root;
    ASSERT_EQ(ERROR_SUCCESS,
              RegCreateKeyExW(HKEY_LOCAL_MACHINE, uninstallRoot, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, root.receive(), nullptr));
    const WorkerResult result = RunWorker();
    root.reset();
    RegDeleteTreeW(HKEY_LOCAL_MACHINE, uninstallRoot);
    RegDeleteKeyW(HKEY_LOCAL_MACHINE, uninstallRoot);
    RegCreateKeyExW(HKEY_LOCAL_MACHINE, uninstallRoot, 0, nullptr, REG_OPTION_NON_VOLATILE,
                    KEY_ALL_ACCESS, nullptr, root.receive(), nullptr);

    ExpectFailure(
        result,
        L"アプリケーション設定を保存できません。\n" + OsMessageLine(ERROR_CHILD_MUST_BE_VOLATILE),
        kNoStep);
    EXPECT_TRUE(WaitForServiceState(kDService, SERVICE_RUNNING));
    EXPECT_TRUE(PathExists(DesktopShortcutPath()));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
}

TEST_F(WorkerTest, ResultIsSentEvenWhenTheFirstStepFails) {
    // An entry whose command splits into two arguments cannot be removed, nor
    // can a folder that holds a subfolder (found before anything is touched).
    const std::pair<std::wstring, std::wstring> entries[] = {
        {L"\"C:\\Old\\Uninst.exe\" \"ORBEK_Portvane\"", L""},
        {L"\"C:\\Old\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"",
         L"C:\\Old\\logs を削除できません。\nインストール先ディレクトリを削除できません。\n" +
             OsMessageLine(ERROR_DIR_NOT_EMPTY)}};
    CreateDirectoryW(L"C:\\Old", nullptr);
    CreateDirectoryW(L"C:\\Old\\logs", nullptr);
    for (const auto& [command, removalLog] : entries) {
        SCOPED_TRACE(command);
        ASSERT_EQ(ERROR_SUCCESS,
                  RegSetKeyValueW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"UninstallString",
                                  REG_SZ, command.c_str(),
                                  static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t))));
        logBefore_ = ReadLogText();
        const WorkerResult result = RunWorker();

        ExpectFailure(result, removalLog + L"アンインストール処理に失敗しました。\n", kNoStep);
        EXPECT_TRUE(result.senderWaited);
        EXPECT_GE(result.elapsedMs, 1000u);
        EXPECT_FALSE(PathExists(ProgramFilesFolder() + L"\\ORBEK"));
        EXPECT_FALSE(QueryService(kPService).registered);
        EXPECT_FALSE(PathExists(StartMenuShortcutPath()));
        EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
        EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
    }
    RemoveDirectoryW(L"C:\\Old\\logs");
    RemoveDirectoryW(L"C:\\Old");
}
