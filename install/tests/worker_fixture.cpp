#include "install/tests/worker_fixture.h"

#include <process.h>

#include "install/tests/installed_state.h"
#include "install/worker.h"
#include "payload/module_table.h"
#include "platform/scoped_handle.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"

namespace {

// Long enough for two service waits of Wine's service manager.
constexpr ULONGLONG kWorkerTimeoutMs = 240000;

WorkerResult g_received;
HANDLE g_workerThread = nullptr;

LRESULT CALLBACK ResultWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kMessageInstallSucceeded || message == kMessageInstallFailed) {
        FILETIME now;
        GetSystemTimeAsFileTime(&now);
        g_received.receivedAt =
            (static_cast<ULONGLONG>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        g_received.message = message;
        g_received.wParam = wParam;
        g_received.lParam = lParam;
        g_received.senderWaited = WaitForSingleObject(g_workerThread, 0) == WAIT_TIMEOUT;
        ++g_received.messageCount;
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void PumpMessages() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

void WorkerTest::SetUp() {
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

void WorkerTest::TearDown() {
    DestroyWindow(window_);
    DeleteTree(staging_);
    ResetProductState();
}

WorkerResult WorkerTest::RunWorker() {
    g_received = WorkerResult();
    const ULONGLONG started = GetTickCount64();
    ScopedKernelHandle thread(reinterpret_cast<HANDLE>(
        _beginthreadex(nullptr, 0, InstallWorkerEntry, nullptr, 0, nullptr)));
    if (!thread) {
        return g_received;
    }
    g_workerThread = thread.get();
    while (g_received.messageCount == 0 && GetTickCount64() - started < kWorkerTimeoutMs) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
        PumpMessages();
    }
    g_received.elapsedMs = GetTickCount64() - started;
    if (WaitForSingleObject(thread.get(), 30000) == WAIT_OBJECT_0) {
        GetExitCodeThread(thread.get(), &g_received.exitCode);
    }
    // A second result message would be handled here.
    PumpMessages();
    g_workerThread = nullptr;
    return g_received;
}

std::wstring WorkerTest::AddedLog() const {
    return std::wstring(ReadLogText()).substr(logBefore_.size());
}

std::wstring WorkerTest::InstalledPath(const wchar_t* fileName) {
    return DefaultInstallFolder() + L"\\" + fileName;
}

std::wstring WorkerTest::PayloadFile(const wchar_t* fileName) {
    return BuildPath(std::wstring(L"payload-files\\") + fileName);
}

void WorkerTest::ExpectNoServices() {
    EXPECT_FALSE(QueryProductService(L"Portvane_PService").registered);
    EXPECT_FALSE(QueryProductService(L"Portvane_DService").registered);
}

void WorkerTest::ExpectNoShortcuts() {
    EXPECT_FALSE(PathIsFile(StartMenuShortcutPath()));
    EXPECT_FALSE(PathIsFile(DesktopShortcutPath()));
}

void WorkerTest::ExpectNoRegistration() {
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kSettingsKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kSettingsKey));
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kUninstallEntryKey));
}
