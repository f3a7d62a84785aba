#include "testbed/fault_sweep/restart_point.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstdint>
#include <sstream>
#include <string>
#include <utility>

#include "platform/scoped_handle.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

namespace {

constexpr wchar_t kRunKey[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr wchar_t kTrayValue[] = L"Portvane_Tray";
constexpr wchar_t kTrayFile[] = L"Portvane_Tray.exe";
// Auto-start services on two busy cores may take this long to report.
constexpr DWORD kStartTimeoutMs = 30000;

// The executable of a registered command line, quoted or not.
std::wstring ExecutableOf(const std::wstring& command) {
    if (!command.empty() && command[0] == L'"') {
        return command.substr(1, command.find(L'"', 1) - 1);
    }
    return command.substr(0, command.find(L' '));
}

std::wstring FolderOf(const std::wstring& path) {
    return path.substr(0, path.rfind(L'\\'));
}

// FNV-1a, 64 bits: enough to tell a file from a torn or zeroed copy of it.
uint64_t Digest(const std::string& bytes) {
    uint64_t digest = 14695981039346656037ull;
    for (const char byte : bytes) {
        digest = (digest ^ static_cast<unsigned char>(byte)) * 1099511628211ull;
    }
    return digest;
}

bool IsZeros(const std::string& bytes) {
    return bytes.find_first_not_of('\0') == std::string::npos;
}

// The record: one line a service, "name<TAB>executable<TAB>digest", UTF-16.
void WriteRecord(const std::wstring& recordPath, const std::wstring& text) {
    ScopedFileHandle file(
        CreateFileW(recordPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    DWORD written = 0;
    WriteFile(file.get(), text.data(), static_cast<DWORD>(text.size() * sizeof(wchar_t)), &written,
              nullptr);
}

// The executable and digest recorded for the service; empty when none.
std::pair<std::wstring, uint64_t> Recorded(const wchar_t* service, const std::wstring& recordPath) {
    const std::string bytes = FileBytes(recordPath);
    std::wistringstream lines(std::wstring(reinterpret_cast<const wchar_t*>(bytes.data()),
                                           bytes.size() / sizeof(wchar_t)));
    std::wstring name;
    std::wstring executable;
    std::wstring digest;
    while (std::getline(lines, name, L'\t') && std::getline(lines, executable, L'\t') &&
           std::getline(lines, digest)) {
        if (name == service) {
            return {executable, _wcstoui64(digest.c_str(), nullptr, 10)};
        }
    }
    return {};
}

}  // namespace

void PrepareRestart(const std::wstring& recordPath) {
    std::wstring record;
    for (const wchar_t* service : {kPService, kDService}) {
        const std::wstring executable = ExecutableOf(QueryService(service).binaryPath);
        record += std::wstring(service) + L"\t" + executable + L"\t" +
                  std::to_wstring(Digest(FileBytes(executable))) + L"\n";
    }
    WriteRecord(recordPath, record);
    const std::wstring tray = L"\"" + FolderOf(ExecutableOf(QueryService(kDService).binaryPath)) +
                              L"\\" + kTrayFile + L"\"";
    RegSetKeyValueW(HKEY_CURRENT_USER, kRunKey, kTrayValue, REG_SZ, tray.c_str(),
                    static_cast<DWORD>((tray.size() + 1) * sizeof(wchar_t)));
}

void RecordServicesMarkedForDeletion(const std::wstring& markedPath) {
    std::wstring marked;
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    for (const wchar_t* name : {kPService, kDService}) {
        ScopedServiceHandle service(OpenServiceW(manager.get(), name, SERVICE_CHANGE_CONFIG));
        const bool gone = !service && GetLastError() == ERROR_SERVICE_DOES_NOT_EXIST;
        // A change of nothing fails so only on a service marked for deletion.
        if (gone || (service &&
                     !ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                           SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr,
                                           nullptr, nullptr, nullptr) &&
                     GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE)) {
            marked += std::wstring(name) + L"\n";
        }
    }
    WriteRecord(markedPath, marked);
}

std::wstring DeleteServicesMarkedBeforeRestart(const std::wstring& markedPath) {
    const std::string bytes = FileBytes(markedPath);
    const std::wstring marked(reinterpret_cast<const wchar_t*>(bytes.data()),
                              bytes.size() / sizeof(wchar_t));
    std::wistringstream names(marked);
    for (std::wstring name; std::getline(names, name);) {
        DeleteServiceIfPresent(name.c_str());
    }
    return marked;
}

int UnflushedFileCount(const std::wstring& listPath) {
    const std::string list = FileBytes(listPath);
    return static_cast<int>(std::count(list.begin(), list.end(), '\n'));
}

bool EndTrayStartedAtLogon() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kRunKey, kTrayValue);
    ScopedFileHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof(entry);
    bool ran = false;
    for (BOOL more = Process32FirstW(snapshot.get(), &entry); more;
         more = Process32NextW(snapshot.get(), &entry)) {
        if (_wcsicmp(entry.szExeFile, kTrayFile) != 0) {
            continue;
        }
        ScopedKernelHandle process(
            OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, entry.th32ProcessID));
        ran = TerminateProcess(process.get(), 0) &&
              WaitForSingleObject(process.get(), 10000) == WAIT_OBJECT_0;
    }
    return ran;
}

std::wstring NotRunningWhole(const wchar_t* service, const std::wstring& recordPath) {
    WaitUntil([&] { return QueryService(service).currentState != SERVICE_START_PENDING; },
              kStartTimeoutMs);
    const ServiceInfo info = QueryService(service);
    const std::wstring executable = ExecutableOf(info.binaryPath);
    const std::string bytes = FileBytes(executable);
    const std::wstring name = executable.substr(executable.rfind(L'\\') + 1);
    const bool inProductFolder =
        _wcsicmp(FolderOf(executable).c_str(), DefaultInstallFolder().c_str()) == 0 &&
        bytes == FileBytes(BuildPath(L"payload-files\\" + name));
    const auto [earlier, digest] = Recorded(service, recordPath);
    const bool asItWas =
        _wcsicmp(executable.c_str(), earlier.c_str()) == 0 && Digest(bytes) == digest;
    const std::wstring what = !info.registered                  ? L"not registered"
                              : !PathExists(executable)         ? L"missing " + executable
                              : bytes.empty() || IsZeros(bytes) ? L"zeros at " + executable
                              : !inProductFolder && !asItWas
                                  ? L"not whole or elsewhere: " + executable
                                  : L"";
    if (!what.empty()) {
        return what;
    }
    return info.currentState == SERVICE_RUNNING ? L"" : L"stopped, from " + executable;
}
