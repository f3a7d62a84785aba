// The driver's side of the fault injector: loads it into a running setup and
// reads back its log.
#include <sstream>

#include "testbed/driver.h"

namespace {

// function(argument) on a new thread of the process; its exit code, or 0.
DWORD RunRemote(HANDLE process, const void* function, void* argument) {
    ScopedKernelHandle thread(CreateRemoteThread(
        process, nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(const_cast<void*>(function)),
        argument, 0, nullptr));
    DWORD code = 0;
    if (!thread || WaitForSingleObject(thread.get(), 30000) != WAIT_OBJECT_0 ||
        !GetExitCodeThread(thread.get(), &code)) {
        return 0;
    }
    return code;
}

bool Inject(HANDLE process) {
    const std::wstring dll = BuildPath(L"testbed\\fault_injector.dll");
    const SIZE_T bytes = (dll.size() + 1) * sizeof(wchar_t);
    void* remotePath = VirtualAllocEx(process, nullptr, bytes, MEM_COMMIT, PAGE_READWRITE);
    if (remotePath == nullptr ||
        !WriteProcessMemory(process, remotePath, dll.c_str(), bytes, nullptr)) {
        return false;
    }
    // kernel32 lies at the same address in every process, and the hooks'
    // entry at the same offset from the injector's base as in a copy loaded
    // here, where nothing runs it.
    const auto* loadLibrary = reinterpret_cast<const void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32"), "LoadLibraryW"));
    const auto remoteBase = static_cast<uintptr_t>(RunRemote(process, loadLibrary, remotePath));
    const HMODULE local = LoadLibraryW(dll.c_str());
    const auto install = reinterpret_cast<uintptr_t>(
        local != nullptr ? GetProcAddress(local, "InstallFaultHooks") : nullptr);
    return remoteBase != 0 && install != 0 &&
           RunRemote(process,
                     reinterpret_cast<const void*>(remoteBase + install -
                                                   reinterpret_cast<uintptr_t>(local)),
                     nullptr) == 1;
}

std::wstring Utf16(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                                        static_cast<int>(text.size()), &wide[0],
                                                        static_cast<int>(wide.size()))));
    return wide;
}

}  // namespace

SetupProcess LaunchSetupUnderInjector(const std::wstring& plan, const std::wstring& logPath) {
    DeleteFileW(logPath.c_str());
    // Inherited by the setup, read by the injector.
    SetEnvironmentVariableW(L"PORTVANE_FAULTS", plan.c_str());
    SetEnvironmentVariableW(L"PORTVANE_FAULT_LOG", logPath.c_str());
    SetupProcess setup = LaunchSetup();
    SetEnvironmentVariableW(L"PORTVANE_FAULTS", nullptr);
    SetEnvironmentVariableW(L"PORTVANE_FAULT_LOG", nullptr);
    if (WaitForDialog(setup.processId, L"", 30000) == nullptr || !Inject(setup.process.get())) {
        KillIfRunning(setup);
        return SetupProcess();
    }
    return setup;
}

std::vector<LoggedCall> ReadCallLog(const std::wstring& logPath) {
    std::vector<LoggedCall> calls;
    ScopedFileHandle file(CreateFileW(logPath.c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                      nullptr));
    std::string text;
    char chunk[4096];
    DWORD read = 0;
    while (file && ReadFile(file.get(), chunk, sizeof(chunk), &read, nullptr) && read > 0) {
        text.append(chunk, read);
    }
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::wistringstream fields(Utf16(line));
        LoggedCall call;
        std::wstring number;
        std::wstring error;
        std::getline(fields, number, L'\t');
        std::getline(fields, call.function, L'\t');
        std::getline(fields, call.argument, L'\t');
        std::getline(fields, call.result, L'\t');
        std::getline(fields, error, L'\t');
        std::getline(fields, call.outcome);
        call.number = _wtoi(number.c_str());
        call.error = static_cast<DWORD>(_wtoi(error.c_str()));
        calls.push_back(call);
    }
    return calls;
}
