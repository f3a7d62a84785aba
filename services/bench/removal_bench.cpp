// Times the removal of an earlier installation as a reinstall meets it: the
// stand-in services running from the default folder, its files, shortcuts and
// uninstall entry in place. Driven by scripts/benchmark.sh:
//   removal_bench STANDIN_DIR ROUNDS
// STANDIN_DIR holds the stand-in product files (Windows path). Destroys any
// product installation in the prefix. Results are "key value" lines in ms.
#include <windows.h>
// These need windows.h first.
#include <shlobj.h>

#include <algorithm>
#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "platform/scoped_handle.h"
#include "services/components.h"
#include "services/previous_installation.h"
#include "services/service_control.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "setup/product_paths.h"
#include "setup/strings.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

namespace {

// The install log says why; it is Japanese, so it goes out as UTF-8 bytes.
void ReportFailure(const char* what) {
    const wchar_t* log = ReadLogText();
    std::vector<char> text(static_cast<size_t>(
        WideCharToMultiByte(CP_UTF8, 0, log, -1, nullptr, 0, nullptr, nullptr)));
    WideCharToMultiByte(CP_UTF8, 0, log, -1, text.data(), static_cast<int>(text.size()), nullptr,
                        nullptr);
    std::fprintf(stderr, "%s\n%s", what, text.data());
}

bool CopyStandins(const std::wstring& source, const std::wstring& target) {
    WIN32_FIND_DATAW entry;
    ScopedFindHandle search(FindFirstFileW((source + L"\\*").c_str(), &entry));
    if (!search) {
        return false;
    }
    do {
        if ((entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
            !CopyFileW((source + L"\\" + entry.cFileName).c_str(),
                       (target + L"\\" + entry.cFileName).c_str(), FALSE)) {
            return false;
        }
    } while (FindNextFileW(search.get(), &entry));
    return true;
}

void WriteEmptyFile(const wchar_t* path) {
    ScopedFileHandle file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
}

bool WriteUninstallEntry(const std::wstring& folder) {
    const std::wstring command = L"\"" + folder + L"\\Uninst.exe\" \"" + kUninstallKeyName +
                                 L"\" \"" + ProductDisplayName() + L"\"";
    ScopedRegistryKey entry;
    const std::wstring path = std::wstring(kUninstallRootKey) + L"\\" + kUninstallKeyName;
    if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                        entry.receive(), nullptr) != ERROR_SUCCESS) {
        return false;
    }
    return RegSetValueExW(entry.get(), L"UninstallString", 0, REG_SZ,
                          reinterpret_cast<const BYTE*>(command.c_str()),
                          static_cast<DWORD>(command.size() + 1) * DWORD{sizeof(wchar_t)}) ==
           ERROR_SUCCESS;
}

// An installation as the installer leaves it, with both services running.
bool MakeInstallation(const std::wstring& standins) {
    wchar_t maker[kPathChars];
    wchar_t product[kPathChars];
    wchar_t startMenu[kPathChars];
    wchar_t desktop[kPathChars];
    if (!GetMakerFolderPath(maker) || !GetProductFolderPath(product) ||
        !GetStartMenuShortcutPath(startMenu) || !GetDesktopShortcutPath(desktop)) {
        return false;
    }
    CreateDirectoryW(maker, nullptr);
    CreateDirectoryW(product, nullptr);
    wcscpy(g_installFolderPath, product);
    WriteEmptyFile(startMenu);
    WriteEmptyFile(desktop);
    return CopyStandins(standins, product) && InstallComponents() && WriteUninstallEntry(product);
}

// One timed removal per round; stopFirst stops the first service beforehand, as an
// administrator may have.
bool TimeRemovals(const std::wstring& standins, int rounds, bool stopFirst,
                  std::vector<double>* times) {
    for (int round = 0; round < rounds; ++round) {
        // Started is not yet running: the stop request needs a running service.
        if (!MakeInstallation(standins) || !WaitForServiceState(kPService, SERVICE_RUNNING) ||
            !WaitForServiceState(kDService, SERVICE_RUNNING)) {
            ReportFailure("cannot lay out the earlier installation");
            return false;
        }
        if (stopFirst && !StopProductService(kPService)) {
            return false;
        }
        LARGE_INTEGER start;
        LARGE_INTEGER end;
        QueryPerformanceCounter(&start);
        const bool removed = RemovePreviousInstallation();
        QueryPerformanceCounter(&end);
        if (!removed) {
            ReportFailure("removal failed");
            return false;
        }
        times->push_back(Milliseconds(start, end));
    }
    return true;
}

void Report(const char* key, std::vector<double> times) {
    std::sort(times.begin(), times.end());
    std::printf("%s_median_ms %.1f\n", key, times[times.size() / 2]);
    std::printf("%s_min_ms %.1f\n", key, times.front());
    std::printf("%s_max_ms %.1f\n", key, times.back());
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3 || _wtoi(argv[2]) < 1) {
        std::fprintf(stderr, "usage: removal_bench STANDIN_DIR ROUNDS\n");
        return 2;
    }
    const std::wstring standins = argv[1];
    const int rounds = _wtoi(argv[2]);
    // Start from a prefix without the product (a left-over service included).
    ResetProductState();

    std::vector<double> running;
    std::vector<double> stopped;
    if (!TimeRemovals(standins, rounds, false, &running) ||
        !TimeRemovals(standins, rounds, true, &stopped)) {
        return 1;
    }
    std::printf("rounds %d\n", rounds);
    Report("removal_running", running);
    Report("removal_one_stopped", stopped);
    return 0;
}
