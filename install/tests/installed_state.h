// Readers of what an installation leaves in the prefix, for the install tests:
// files, registry values in the 32-bit view, services and shell links.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

extern const wchar_t kUninstallEntryKey[];
extern const wchar_t kSettingsKey[];

bool PathIsFolder(const std::wstring& path);
bool PathIsFile(const std::wstring& path);
long long FileSizeOf(const std::wstring& path);

// Whether the key exists under root in the given view (KEY_WOW64_32KEY/64KEY).
bool KeyExists(HKEY root, const wchar_t* path, REGSAM view = KEY_WOW64_32KEY);
DWORD ValueCount(HKEY root, const wchar_t* path);

struct RegistryValue {
    bool found = false;
    DWORD type = 0;
    DWORD size = 0;  // bytes, as stored
    std::wstring text;
    DWORD number = 0;
};
RegistryValue ReadValue(HKEY root, const wchar_t* path, const wchar_t* name);

// A value of the uninstall entry: REG_SZ with its terminator counted in its
// size, or a 4-byte REG_DWORD.
::testing::AssertionResult UninstallTextIs(const wchar_t* name, const std::wstring& text);
::testing::AssertionResult UninstallNumberIs(const wchar_t* name, DWORD number);

// Last write time of a key (32-bit view), as a FILETIME count.
ULONGLONG KeyWriteTime(HKEY root, const wchar_t* path);

struct ServiceState {
    bool registered = false;
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    DWORD currentState = 0;
    std::wstring binaryPath;
    std::wstring account;
};
ServiceState QueryProductService(const wchar_t* name);

// Polls until the service reports running, or the timeout passes.
bool WaitUntilRunning(const wchar_t* name, DWORD timeoutMs);

struct ShortcutTarget {
    bool loaded = false;
    std::wstring path;
    std::wstring arguments;
    std::wstring workingFolder;
};
ShortcutTarget ReadShortcut(const std::wstring& linkPath);

// Wine checks no access on the way to a key it creates, but it refuses a lasting
// key below a volatile one: replacing the empty 32-bit Uninstall key with a
// volatile one makes the uninstall entry impossible to create.
extern const wchar_t kUninstallRootKeyPath[];
bool MakeUninstallRootVolatile();
void RestoreUninstallRoot();

// Points the user's desktop folder elsewhere while it lives (Wine reads the
// "User Shell Folders" value on every query).
class DesktopFolderOverride {
  public:
    explicit DesktopFolderOverride(const std::wstring& folder);
    ~DesktopFolderOverride();
    DesktopFolderOverride(const DesktopFolderOverride&) = delete;
    DesktopFolderOverride& operator=(const DesktopFolderOverride&) = delete;

  private:
    std::wstring folder_;
    std::wstring earlier_;
    DWORD earlierType_ = REG_EXPAND_SZ;
};
