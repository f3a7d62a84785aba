#include "services/tests/service_test_support.h"

#include <cwchar>
#include <vector>

#include "platform/scoped_handle.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"

void ProductStateTest::SetUp() {
    ResetProductState();
    g_installFolderPath[0] = L'\0';
}

void ProductStateTest::TearDown() {
    ResetProductState();
}

ServiceConfig QueryConfig(const wchar_t* serviceName) {
    ServiceConfig config;
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_CONFIG));
    if (!service) {
        return config;
    }
    DWORD needed = 0;
    QueryServiceConfigW(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* raw = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
    if (!QueryServiceConfigW(service.get(), raw, needed, &needed)) {
        return config;
    }
    config.registered = true;
    config.serviceType = raw->dwServiceType;
    config.startType = raw->dwStartType;
    config.errorControl = raw->dwErrorControl;
    config.binaryPath = raw->lpBinaryPathName ? raw->lpBinaryPathName : L"";
    config.account = raw->lpServiceStartName ? raw->lpServiceStartName : L"";
    config.displayName = raw->lpDisplayName ? raw->lpDisplayName : L"";
    return config;
}

DWORD ServiceState(const wchar_t* serviceName) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(OpenServiceW(manager.get(), serviceName, SERVICE_QUERY_STATUS));
    SERVICE_STATUS status = {};
    if (!service || !QueryServiceStatus(service.get(), &status)) {
        return 0;
    }
    return status.dwCurrentState;
}

bool WaitForServiceState(const wchar_t* serviceName, DWORD state, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (ServiceState(serviceName) != state) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

void CreateFolderTree(const std::wstring& folder) {
    const size_t separator = folder.find_last_of(L'\\');
    if (separator != std::wstring::npos && separator > 2) {
        CreateFolderTree(folder.substr(0, separator));
    }
    CreateDirectoryW(folder.c_str(), nullptr);
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

bool Exists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void SetInstallFolder(const std::wstring& folder) {
    ASSERT_LT(folder.size(), static_cast<size_t>(kPathChars));
    wcscpy(g_installFolderPath, folder.c_str());
}

LogWatch::LogWatch() : start_(wcslen(ReadLogText())) {}

std::wstring LogWatch::Added() const {
    return std::wstring(ReadLogText()).substr(start_);
}

std::wstring OsMessageLine(DWORD error) {
    wchar_t* text = nullptr;
    FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0x400, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    ScopedLocalMemory memory(text);
    return std::wstring(L"OS Message:") + (text != nullptr ? text : L"") + L"\n";
}
