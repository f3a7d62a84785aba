#include "services/tests/service_test_support.h"

#include <shlobj.h>

#include <cwchar>

#include "platform/scoped_handle.h"
#include "services/service_control.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

void ProductStateTest::SetUp() {
    ResetProductState();
    g_installFolderPath[0] = L'\0';
}

void ProductStateTest::TearDown() {
    ResetProductState();
}

void CreateFolderTree(const std::wstring& folder) {
    SHCreateDirectoryExW(nullptr, folder.c_str(), nullptr);
}

void CopyStandin(const wchar_t* fileName, const std::wstring& folder) {
    CreateFolderTree(folder);
    const std::wstring source = BuildPath(std::wstring(L"payload-files\\") + fileName);
    ASSERT_TRUE(CopyFileW(source.c_str(), (folder + L"\\" + fileName).c_str(), FALSE))
        << "stand-in missing: build pv_standin_payload";
}

void WriteTextFile(const std::wstring& path, const char* text) {
    ScopedFileHandle file(
        CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    ASSERT_TRUE(file.valid()) << "cannot write " << testing::PrintToString(path);
    DWORD written = 0;
    WriteFile(file.get(), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
}

void SetInstallFolder(const std::wstring& folder) {
    ASSERT_LT(folder.size(), static_cast<size_t>(kPathChars));
    wcscpy(g_installFolderPath, folder.c_str());
}

LogWatch::LogWatch() : start_(wcslen(ReadLogText())) {}

std::wstring LogWatch::Added() const {
    return std::wstring(ReadLogText()).substr(start_);
}

void RestartLingering(const wchar_t* serviceName) {
    ASSERT_TRUE(StopProductService(serviceName));
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(OpenServiceW(manager.get(), serviceName, SERVICE_START));
    const wchar_t* arguments[] = {L"linger"};
    // The stopped process may still be on its way out.
    ASSERT_TRUE(WaitUntil([&] { return StartServiceW(service.get(), 1, arguments) != FALSE; },
                          5000));
    ASSERT_TRUE(WaitForServiceState(serviceName, SERVICE_RUNNING));
}
