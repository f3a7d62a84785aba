// Shared by the service and removal tests: a clean prefix for each test, the
// stand-in services put where an installation puts them, and what the service
// manager, the registry and the install log report afterwards.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <string>

// Every test that installs starts and ends with a prefix that never saw the product.
class ProductStateTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

struct ServiceConfig {
    bool registered = false;
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::wstring binaryPath;
    std::wstring account;
    std::wstring displayName;
};

ServiceConfig QueryConfig(const wchar_t* serviceName);

// The current state (SERVICE_RUNNING, ...), 0 when the name is not registered.
DWORD ServiceState(const wchar_t* serviceName);
bool WaitForServiceState(const wchar_t* serviceName, DWORD state, DWORD timeoutMs);

// Creates the folder and its parents, and copies the named stand-ins into it.
void CreateFolderTree(const std::wstring& folder);
void CopyStandin(const wchar_t* fileName, const std::wstring& folder);
void WriteTextFile(const std::wstring& path, const char* text);
bool Exists(const std::wstring& path);

void SetInstallFolder(const std::wstring& folder);

// The log text appended since construction.
class LogWatch {
  public:
    LogWatch();
    std::wstring Added() const;

  private:
    size_t start_;
};

// The line AppendOsMessage writes for an error code.
std::wstring OsMessageLine(DWORD error);

constexpr const wchar_t* kPService = L"Portvane_PService";
constexpr const wchar_t* kDService = L"Portvane_DService";
