// Drives the real Portvane_Setup.exe from a test running beside it under Wine:
// starts it, finds its windows, reads texts and states, clicks, handles message boxes.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/scoped_handle.h"

struct SetupProcess {
    ScopedKernelHandle process;
    DWORD processId = 0;
};

// Path of a file in the build tree ($PORTVANE_BUILD_DIR), e.g. L"Portvane_Setup.exe".
std::wstring BuildPath(const std::wstring& relative);

// Starts an exe (by default the built setup, with no arguments).
SetupProcess LaunchProgram(const std::wstring& exePath, const std::wstring& arguments = L"");
SetupProcess LaunchSetup();

// The setup with the fault injector (testbed/fault_sweep/fault_injector.cpp)
// loaded once its wizard shows, or with `atStart` as it starts, so that the
// answers also take what the wizard's opening asks. plan: "count" numbers and
// logs every system call of the install worker into logPath (replaced),
// "fail:N" also makes call N fail,
// "persist:N" makes it fail and every later call of the same function on the
// same argument (as the log names it), "kill:N" ends the setup at call N,
// "restart:N" too, listing the files it left unflushed beside the log first.
// Where Wine answers less than Windows, the injector answers the worker as
// Windows does, unless the caller set PORTVANE_WINDOWS_ANSWERS=0 before the
// launch. No process when the injection failed.
SetupProcess LaunchSetupUnderInjector(const std::wstring& plan, const std::wstring& logPath,
                                      bool atStart = false);

// One line of the injector's log; calls repeated back to back on the same
// argument (polls, retries) share a number.
struct LoggedCall {
    int number = 0;
    std::wstring function;
    std::wstring argument;  // for ChangeServiceConfig2W the info level
    std::wstring result;    // hexadecimal
    DWORD error = 0;        // the last error after the call
    std::wstring outcome;   // "failed", "killed", or empty
};
std::vector<LoggedCall> ReadCallLog(const std::wstring& logPath);

// The DPI of programs started from now on (Wine reads LogPixels at a process's start).
void SetLogPixels(DWORD dpi);

// Exit code, or STILL_ACTIVE when it did not end within the timeout.
DWORD WaitForExit(const SetupProcess& setup, DWORD timeoutMs);

// Kills a process left running by a failed test.
void KillIfRunning(const SetupProcess& setup);

// The first visible top-level dialog (#32770) of the process whose caption
// matches (empty caption: any), or null after the timeout.
HWND WaitForDialog(DWORD processId, const std::wstring& caption, DWORD timeoutMs);

struct MessageBoxInfo {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::wstring caption;
    std::wstring text;
    bool hasIcon = false;
    bool topmost = false;
};

// A message box of the process other than `except` (the wizard itself).
MessageBoxInfo WaitForMessageBox(DWORD processId, DWORD timeoutMs, HWND except = nullptr);

// Presses the box's only/first button.
void DismissMessageBox(const MessageBoxInfo& box);

std::wstring WindowText(HWND window);
std::wstring ControlText(HWND dialog, int id);
bool IsControlEnabled(HWND dialog, int id);
bool IsControlVisible(HWND dialog, int id);
LRESULT CheckState(HWND dialog, int id);

// The clipboard's Unicode text ("" when it holds none); `bytes`, when given,
// receives the size of its memory block.
std::wstring ClipboardText(SIZE_T* bytes = nullptr);

// Posted click (a modal box it opens must not block the test); refuses a
// disabled button, as a user could not click it.
bool Click(HWND dialog, int id);

// Waits until `condition` holds, polling; false after the timeout.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) {
            return false;
        }
        Sleep(50);
    }
    return true;
}

// Saves a BMP of the window's screen area under $PORTVANE_BUILD_DIR/screenshots;
// the test command converts them to PNG.
void SaveScreenshot(HWND window, const std::wstring& name);

// Files directly in a folder (names only), sorted.
std::vector<std::wstring> ListFiles(const std::wstring& folder);

// Every entry (file or folder name) of the temporary folder, sorted.
std::vector<std::wstring> TemporaryFolderEntries();

// Staging folders (uas*.tmp) currently in the temporary folder.
std::vector<std::wstring> StagingFolders();

bool PathExists(const std::wstring& path);
long long FileSize(const std::wstring& path);

// The whole file, or what of it can be read.
std::string FileBytes(const std::wstring& path);
