// Shared by the install and removal tests and their benchmarks: what the service
// manager and the registry report of the product, the install log's OS message
// line for an error, and elapsed time.
#pragma once

#include <windows.h>

#include <string>

constexpr const wchar_t* kPService = L"Portvane_PService";
constexpr const wchar_t* kDService = L"Portvane_DService";
extern const wchar_t kSettingsKey[];        // under HKCU and HKLM
extern const wchar_t kUninstallEntryKey[];  // under HKLM

struct ServiceInfo {
    bool registered = false;
    DWORD serviceType = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    DWORD currentState = 0;
    std::wstring binaryPath;
    std::wstring account;
    std::wstring displayName;
    std::wstring group;
    std::wstring dependencies;  // the list, each name followed by ";"
    std::wstring description;
};
ServiceInfo QueryService(const wchar_t* serviceName);

// Polls until the service reports the state; false after the timeout.
bool WaitForServiceState(const wchar_t* serviceName, DWORD state, DWORD timeoutMs = 10000);

// Registry reads in the 32-bit view unless a view (KEY_WOW64_64KEY) is given.
bool KeyExists(HKEY root, const wchar_t* path, REGSAM view = KEY_WOW64_32KEY);
DWORD ValueCount(HKEY root, const wchar_t* path);
struct RegistryValue {
    bool found = false;
    DWORD type = 0;
    DWORD size = 0;     // bytes as stored, a text's terminator included
    std::wstring text;  // REG_SZ, without its terminator
    DWORD number = 0;   // REG_DWORD
};
RegistryValue ReadValue(HKEY root, const wchar_t* path, const wchar_t* name);

// Subkeys of the Uninstall key named ORBEK_Portvane in any case.
int ProductUninstallEntries();

// Whether text ends in ending; any text does when ending is null.
bool EndsWith(const std::wstring& text, const wchar_t* ending);

// The line AppendOsMessage writes for an error code.
std::wstring OsMessageLine(DWORD error);

double Milliseconds(const LARGE_INTEGER& start, const LARGE_INTEGER& end);

// Runs "command option first [second]" in Unix on Windows paths, for what
// Wine 8 cannot do from Windows: its CreateSymbolicLinkW makes no link, and it
// follows a link even to delete it ("ln -s TARGET LINK", "rm -f LINK").
bool RunUnix(const char* command, const char* option, const std::wstring& first,
             const std::wstring& second = L"");
