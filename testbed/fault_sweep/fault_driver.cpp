// The driver's side of the fault injector: loads it into a running setup and
// reads back its log.
#include <windows.h>
#include <winternl.h>

#include <cwchar>
#include <sstream>

#include "testbed/driver.h"

namespace {

constexpr wchar_t kInjectorVariable[] = L"PORTVANE_INJECTOR=";

template <typename T>
bool ReadRemote(HANDLE process, uintptr_t address, T* value) {
    return ReadProcessMemory(process, reinterpret_cast<const void*>(address), value, sizeof(*value),
                             nullptr) != FALSE;
}

// Where the setup holds the value of its PORTVANE_INJECTOR: read from its
// environment, as writing the path there would need memory allocated there,
// one more call that Wine runs in the middle of whatever the setup is doing.
uintptr_t RemoteInjectorPath(HANDLE process) {
    PROCESS_BASIC_INFORMATION basic = {};
    uintptr_t parameters = 0;
    uintptr_t environment = 0;
    // PEB.ProcessParameters, RTL_USER_PROCESS_PARAMETERS.Environment (32-bit).
    if (NtQueryInformationProcess(process, ProcessBasicInformation, &basic, sizeof(basic),
                                  nullptr) != 0 ||
        !ReadRemote(process, reinterpret_cast<uintptr_t>(basic.PebBaseAddress) + 0x10,
                    &parameters) ||
        !ReadRemote(process, parameters + 0x48, &environment)) {
        return 0;
    }
    // Page by page: the block may end just before memory that cannot be read.
    // Each entry follows a terminator, the first one too.
    std::wstring block(1, L'\0');
    for (uintptr_t page = environment & ~uintptr_t{0xFFF};; page += 0x1000) {
        wchar_t chunk[0x800];
        if (!ReadRemote(process, page, &chunk)) {
            return 0;
        }
        block.append(chunk + (page < environment ? (environment - page) / 2 : 0), chunk + 0x800);
        const size_t found = block.find(std::wstring(1, L'\0') + kInjectorVariable);
        if (found != std::wstring::npos && block.find(L'\0', found + 1) != std::wstring::npos) {
            return environment + (found + wcslen(kInjectorVariable)) * sizeof(wchar_t);
        }
        if (block.find(std::wstring(2, L'\0')) != std::wstring::npos) {
            return 0;
        }
    }
}

// LoadLibraryW of the injector, whose loading puts the hooks in, on the one
// thread the driver starts in the setup: Wine has a thread of the setup make
// it, in the middle of whatever the setup does, and once the setup is idle
// that is its wait for input. At the start, the setup's start-up makes the
// thread before the wizard opens, once the setup's environment is in place.
bool Inject(const SetupProcess& setup, bool atStart) {
    if (!atStart) {
        WaitForInputIdle(setup.process.get(), 10000);
    }
    uintptr_t path = 0;
    for (int attempt = 0; attempt < 1000 && (path = RemoteInjectorPath(setup.process.get())) == 0 &&
                          atStart;
         ++attempt) {
        Sleep(10);
    }
    // kernel32 lies at the same address in every process.
    const auto loadLibrary = reinterpret_cast<LPTHREAD_START_ROUTINE>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32"), "LoadLibraryW")));
    ScopedKernelHandle thread(path == 0
                                  ? nullptr
                                  : CreateRemoteThread(setup.process.get(), nullptr, 0, loadLibrary,
                                                       reinterpret_cast<void*>(path), 0, nullptr));
    DWORD loaded = 0;
    return thread && WaitForSingleObject(thread.get(), 30000) == WAIT_OBJECT_0 &&
           GetExitCodeThread(thread.get(), &loaded) && loaded != 0;
}

std::wstring Utf16(const std::string& text) {
    std::wstring wide(text.size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, text.data(),
                                                        static_cast<int>(text.size()), &wide[0],
                                                        static_cast<int>(wide.size()))));
    return wide;
}

}  // namespace

SetupProcess LaunchSetupUnderInjector(const std::wstring& plan, const std::wstring& logPath,
                                      bool atStart) {
    DeleteFileW(logPath.c_str());
    // Inherited by the setup, read by the injector.
    const std::wstring variables[][2] = {
        {L"PORTVANE_FAULTS", plan},
        {L"PORTVANE_FAULT_LOG", logPath},
        {L"PORTVANE_INJECTOR", BuildPath(L"testbed\\fault_injector.dll")}};
    for (const auto& variable : variables) {
        SetEnvironmentVariableW(variable[0].c_str(), variable[1].c_str());
    }
    // At the start the loading can come before the setup's own imports are in
    // place, and the injector refuses to load: that setup ends, and another
    // starts.
    SetupProcess setup;
    for (int attempt = 0; attempt < (atStart ? 3 : 1) && !setup.process; ++attempt) {
        setup = LaunchSetup();
        if ((!atStart && WaitForDialog(setup.processId, L"", 30000) == nullptr) ||
            !Inject(setup, atStart)) {
            KillIfRunning(setup);
            setup = SetupProcess();
        }
    }
    for (const auto& variable : variables) {
        SetEnvironmentVariableW(variable[0].c_str(), nullptr);
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
