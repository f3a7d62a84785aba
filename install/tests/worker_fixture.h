// Runs the install worker as the wizard does: a fresh staging folder holding the
// ten stand-in files, a hidden window that receives the result message, a thread
// started with _beginthreadex, and a message loop until the result arrives.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

struct WorkerResult {
    UINT message = 0;  // WM_APP + 1 or WM_APP + 2; 0 when none arrived
    int messageCount = 0;
    WPARAM wParam = 0;
    LPARAM lParam = 0;
    ULONGLONG receivedAt = 0;   // system time (FILETIME units) when the window got it
    bool senderWaited = false;  // the worker was blocked in SendMessageW meanwhile
    DWORD exitCode = STILL_ACTIVE;
    ULONGLONG elapsedMs = 0;
};

class WorkerTest : public ::testing::Test {
  protected:
    void SetUp() override;
    void TearDown() override;

    WorkerResult RunWorker();
    std::wstring AddedLog() const;

    std::wstring StagedPath(const wchar_t* fileName) const { return staging_ + L"\\" + fileName; }
    static std::wstring InstalledPath(const wchar_t* fileName);
    static std::wstring PayloadFile(const wchar_t* fileName);

    // Nothing of the later steps is in the prefix.
    static void ExpectNoServices();
    static void ExpectNoShortcuts();
    static void ExpectNoRegistration();

    std::wstring staging_;
    std::wstring logBefore_;
    HWND window_ = nullptr;
};
