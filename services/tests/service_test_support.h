// Shared by the service and removal tests: a clean prefix for each test, the
// stand-in services put where an installation puts them, and the install log.
#pragma once

#include <windows.h>
#include <gtest/gtest.h>

#include <string>

// Every test that installs starts and ends with a prefix that never saw the product.
class ProductStateTest : public testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;
};

// Creates the folder and its parents, and copies the named stand-in into it.
void CreateFolderTree(const std::wstring& folder);
void CopyStandin(const wchar_t* fileName, const std::wstring& folder);
void WriteTextFile(const std::wstring& path, const char* text);

void SetInstallFolder(const std::wstring& folder);

// Restarts a running stand-in service so that its process outlives its
// "stopped" report by seconds.
void RestartLingering(const wchar_t* serviceName);

// The log text appended since construction.
class LogWatch {
  public:
    LogWatch();
    std::wstring Added() const;

  private:
    size_t start_;
};
