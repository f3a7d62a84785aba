// The test bed's fault injector, loaded into the real setup by the driver once
// its wizard is up (never shipped). It replaces the exe's imports of the install
// worker's system calls, and what the exe looks up with GetProcAddress, with
// wrappers that number and log each call of the worker thread and, as the plan
// in PORTVANE_FAULTS says ("count", "fail:N", "persist:N", "kill:N",
// "restart:N"), fail call N, fail it and every later call of its function on
// its argument, or end the process at it; at a restart point it first writes
// the files whose data a power cut would lose beside the log, with
// ".unflushed" appended (testbed/fault_sweep/unflushed_files.h). The log
// (PORTVANE_FAULT_LOG) has one UTF-8 line a call: number, function, argument,
// result, last error, and "failed" or "killed".
// A call that is not failed, on any thread, gets the answer of
// testbed/answers/windows_answers.cpp where Wine answers less than Windows, unless
// PORTVANE_WINDOWS_ANSWERS is 0.
#include <windows.h>
#include <io.h>
#include <objbase.h>
#include <process.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <shobjidl.h>
#include <winternl.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <type_traits>

#include "testbed/answers/windows_answers.h"
#include "testbed/fault_sweep/unflushed_files.h"

namespace {

enum class ErrorKind { kLastError, kErrno, kReturned };

// What a failed call returns, and the error it leaves where its callers look.
struct Failure {
    intptr_t result;
    DWORD error;
    ErrorKind kind;
};

constexpr Failure kDenied{FALSE, ERROR_ACCESS_DENIED, ErrorKind::kLastError};
constexpr Failure kInUse{-1, ERROR_SHARING_VIOLATION, ErrorKind::kLastError};
constexpr Failure kTimeout{FALSE, ERROR_SERVICE_REQUEST_TIMEOUT, ErrorKind::kLastError};
constexpr Failure kNoAttributes{-1, ERROR_ACCESS_DENIED, ErrorKind::kLastError};
constexpr Failure kRegistryDenied{ERROR_ACCESS_DENIED, 0, ErrorKind::kReturned};
constexpr Failure kComDenied{E_ACCESSDENIED, 0, ErrorKind::kReturned};
constexpr Failure kComOutOfMemory{E_OUTOFMEMORY, 0, ErrorKind::kReturned};
constexpr Failure kNtDenied{static_cast<LONG>(0xC0000022), 0, ErrorKind::kReturned};
constexpr Failure kNtInUse{static_cast<LONG>(0xC0000043), 0, ErrorKind::kReturned};
constexpr Failure kNtInvalid{static_cast<LONG>(0xC000000D), 0, ErrorKind::kReturned};
constexpr Failure kCrtDenied{-1, EACCES, ErrorKind::kErrno};
constexpr Failure kCrtNotOpened{0, EACCES, ErrorKind::kErrno};

constexpr unsigned kNoArgument = 0;
constexpr unsigned Arg(int index) {
    return 1u << index;
}

// Where the handle a call opens is found (else the index of the argument that
// receives it), to name it in later calls' lines.
constexpr int kOpensNothing = -1;
constexpr int kReturnsHandle = -2;

// What a call does to the files whose data is unflushed, told its arguments
// before it runs and its arguments and result after.
struct Tracking {
    void (*before)(CallBits args);
    void (*after)(CallBits args, uintptr_t result);
};

struct Call {
    const char* name;
    unsigned logged;  // bit i: argument i names what the call acts on
    int opens;        // kOpensNothing, kReturnsHandle, or the out argument's index
    Failure failure;
    void* wrapper;
    const IID* interfaceId;  // a COM method: its interface and vtable slot
    int slot;
    void* original;
    void* answer;  // of the original's type; null where Wine's answer stands
    Tracking tracking;
};

extern Call g_calls[];

constexpr int kNamedHandles = 256;

struct Plan {
    char mode = 'c';  // count, fail, persist, kill, restart
    int point = 0;
    HANDLE log = INVALID_HANDLE_VALUE;
    wchar_t unflushedPath[MAX_PATH + 16] = L"";
    DWORD worker = 0;
    int number = 0;
    std::string previous;
    std::string failedCall;  // function and argument of the call failed at the point
    // The last handles the worker opened, with what they were opened on.
    struct Named {
        void* handle;
        std::string name;
    } names[kNamedHandles];
    int nameCount = 0;
} g_plan;

std::string Utf8(const wchar_t* text, int length = -1) {
    std::string out(static_cast<size_t>(length < 0 ? wcslen(text) : length) * 3 + 1, '\0');
    out.resize(static_cast<size_t>(WideCharToMultiByte(
        CP_UTF8, 0, text, length, &out[0], static_cast<int>(out.size()), nullptr, nullptr)));
    if (length < 0 && !out.empty()) {
        out.pop_back();
    }
    return out;
}

std::string Hex(uintptr_t value) {
    char text[16];
    snprintf(text, sizeof(text), "0x%lx", static_cast<unsigned long>(value));
    return text;
}

std::string Describe(const wchar_t* text) {
    return text != nullptr ? Utf8(text) : "(null)";
}
std::string Describe(wchar_t* text) {
    return Describe(static_cast<const wchar_t*>(text));
}
std::string Describe(const GUID& id) {
    return Hex(id.Data1);
}
std::string Describe(OBJECT_ATTRIBUTES* attributes) {
    return attributes != nullptr && attributes->ObjectName != nullptr
               ? Utf8(attributes->ObjectName->Buffer, attributes->ObjectName->Length / 2)
               : "(null)";
}

// What the worker opened the handle on, when it did.
const std::string* NameOf(const void* handle) {
    for (int index = g_plan.nameCount; index-- > std::max(0, g_plan.nameCount - kNamedHandles);) {
        const auto& named = g_plan.names[index % kNamedHandles];
        if (named.handle == handle) {
            return &named.name;
        }
    }
    return nullptr;
}

template <typename T>
std::string Describe(T value) {
    if constexpr (std::is_pointer_v<T>) {
        const std::string* name = NameOf(static_cast<const void*>(value));
        return name != nullptr ? *name : Hex(reinterpret_cast<uintptr_t>(value));
    } else {
        return std::to_string(static_cast<long long>(value));
    }
}

// A result or argument as a number; a structure (a GUID) as 0.
template <typename T>
uintptr_t Bits(const T& value) {
    if constexpr (std::is_pointer_v<T>) {
        return reinterpret_cast<uintptr_t>(value);
    } else if constexpr (std::is_class_v<T>) {
        return 0;
    } else {
        return static_cast<uintptr_t>(value);
    }
}

template <typename R>
R FromBits(intptr_t bits) {
    if constexpr (std::is_pointer_v<R>) {
        return reinterpret_cast<R>(bits);
    } else {
        return static_cast<R>(bits);
    }
}

void Remember(void* handle, const std::string& name) {
    g_plan.names[g_plan.nameCount++ % kNamedHandles] = {handle, name};
}

void Log(int number, const Call& call, const std::string& argument, uintptr_t result, DWORD error,
         const char* outcome) {
    const std::string line = std::to_string(number) + "\t" + call.name + "\t" + argument + "\t" +
                             Hex(result) + "\t" + std::to_string(error) + "\t" + outcome + "\n";
    DWORD written = 0;
    WriteFile(g_plan.log, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

// A call repeated back to back on the same thing (a poll, a retry) keeps its
// number: sleeps and retries would otherwise make the numbers vary by run.
int NumberOf(const std::string& key) {
    if (key != g_plan.previous) {
        g_plan.previous = key;
        ++g_plan.number;
    }
    return g_plan.number;
}

template <typename R, typename Real, typename... A>
R Intercept(const Call& call, Real real, A... args) {
    const Real answered = call.answer != nullptr ? reinterpret_cast<Real>(call.answer) : real;
    if (GetCurrentThreadId() != g_plan.worker) {
        return answered(args...);
    }
    std::string argument;
    unsigned index = 0;
    (((call.logged & (1u << index++)) != 0
          ? (void)(argument += (argument.empty() ? "" : " ") + Describe(args))
          : (void)0),
     ...);
    const std::string key = std::string(call.name) + "\t" + argument;
    const int number = NumberOf(key);
    if (number == g_plan.point && (g_plan.mode == 'k' || g_plan.mode == 'r')) {
        if (g_plan.mode == 'r') {
            WriteUnflushedFiles(g_plan.unflushedPath);
        }
        Log(number, call, argument, 0, 0, "killed");
        TerminateProcess(GetCurrentProcess(), 250);
    }
    // The point's call fails once; with "persist" so does every later call of
    // its function on its argument.
    const bool atPoint = number == g_plan.point && g_plan.failedCall.empty() &&
                         (g_plan.mode == 'f' || g_plan.mode == 'p');
    if (atPoint || (g_plan.mode == 'p' && key == g_plan.failedCall)) {
        g_plan.failedCall = key;
        const Failure& failure = call.failure;
        Log(number, call, argument, static_cast<uintptr_t>(failure.result), failure.error,
            "failed");
        if (failure.kind == ErrorKind::kErrno) {
            errno = static_cast<int>(failure.error);
        } else if (failure.kind == ErrorKind::kLastError) {
            SetLastError(failure.error);
        }
        return FromBits<R>(failure.result);
    }
    const uintptr_t bits[] = {Bits(args)..., 0};
    if (call.tracking.before != nullptr) {
        call.tracking.before(bits);
    }
    const R result = answered(args...);
    const DWORD error = GetLastError();
    if (call.tracking.after != nullptr) {
        call.tracking.after(bits, Bits(result));
    }
    index = 0;
    ((static_cast<int>(index++) == call.opens && Bits(result) == 0
          ? Remember(*reinterpret_cast<void**>(Bits(args)), argument)
          : (void)0),
     ...);
    if (call.opens == kReturnsHandle && Bits(result) + 1 > 1) {
        Remember(reinterpret_cast<void*>(Bits(result)), argument);
    }
    Log(number, call, argument, Bits(result), error, "");
    SetLastError(error);
    return result;
}

template <typename F>
struct Hook;

template <typename R, typename... A>
struct Hook<R(WINAPI*)(A...)> {
    template <int row>
    static R WINAPI Wrapper(A... args) {
        return Intercept<R>(g_calls[row], reinterpret_cast<R(WINAPI*)(A...)>(g_calls[row].original),
                            args...);
    }
};

template <typename R, typename... A>
struct Hook<R(__cdecl*)(A...)> {
    template <int row>
    static R __cdecl Wrapper(A... args) {
        return Intercept<R>(g_calls[row],
                            reinterpret_cast<R(__cdecl*)(A...)>(g_calls[row].original), args...);
    }
};

// Looked up at run time: no import library declares them.
using NtCreateFileFunction = LONG(WINAPI*)(HANDLE*, ACCESS_MASK, OBJECT_ATTRIBUTES*,
                                           IO_STATUS_BLOCK*, LARGE_INTEGER*, ULONG, ULONG, ULONG,
                                           ULONG, void*, ULONG);
using NtSetInformationFileFunction = LONG(WINAPI*)(HANDLE, IO_STATUS_BLOCK*, void*, ULONG, ULONG);
using ReOpenFileFunction = HANDLE(WINAPI*)(HANDLE, DWORD, DWORD, DWORD);
using GetFinalPathFunction = DWORD(WINAPI*)(HANDLE, LPWSTR, DWORD, DWORD);
using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);
using SetPathMethod = HRESULT(WINAPI*)(IShellLinkW*, LPCWSTR);
using SaveMethod = HRESULT(WINAPI*)(IPersistFile*, LPCOLESTR, BOOL);

// A row whose wrapper is the one for its place in the table.
template <typename F, int row>
Call MakeCall(const char* name, unsigned logged, int opens, Failure failure, Tracking tracking = {},
              const IID* interfaceId = nullptr, int slot = -1) {
    return {name,
            logged,
            opens,
            failure,
            reinterpret_cast<void*>(&Hook<F>::template Wrapper<row>),
            interfaceId,
            slot,
            nullptr,
            nullptr,
            tracking};
}

constexpr int kFirstRow = __COUNTER__ + 1;
#define PV_CALL(type) MakeCall<type, __COUNTER__ - kFirstRow>
#define PV_IMPORT(name, ...) PV_CALL(decltype(&name))(#name, __VA_ARGS__)

// The install worker's file, folder, service, registry, shell link and COM
// calls: what names the thing each acts on (logged, and what tells a poll from
// the next call), the handle it opens, and how it fails on a user's machine.
Call g_calls[] = {
    PV_IMPORT(CreateFileW, Arg(0), kReturnsHandle, kInUse),
    PV_IMPORT(CopyFileW, Arg(1), kOpensNothing, kDenied, {nullptr, AfterCopy}),
    PV_IMPORT(DeleteFileW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(MoveFileExW, Arg(0), kOpensNothing, kDenied, {BeforeMove, AfterMove}),
    PV_IMPORT(FlushFileBuffers, Arg(0), kOpensNothing, kDenied, {nullptr, AfterFlush}),
    PV_IMPORT(CreateDirectoryW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(RemoveDirectoryW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(SetFileAttributesW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(GetFileAttributesW, Arg(0), kOpensNothing, kNoAttributes),
    PV_IMPORT(FindFirstFileW, Arg(0), kReturnsHandle, kNoAttributes),
    PV_IMPORT(FindNextFileW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(GetFileInformationByHandle, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(GetFileInformationByHandleEx, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(GetDiskFreeSpaceExW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(GetFullPathNameW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(GetLongPathNameW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(PathFileExistsW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(SHGetFolderPathW, Arg(1), kOpensNothing, kComDenied),
    PV_IMPORT(SHGetSpecialFolderPathW, Arg(2), kOpensNothing, kDenied),
    PV_IMPORT(_wfopen, Arg(0), kOpensNothing, kCrtNotOpened),
    PV_IMPORT(_waccess, Arg(0), kOpensNothing, kCrtDenied),
    PV_CALL(NtCreateFileFunction)("NtCreateFile", Arg(2), 0, kNtInUse),
    PV_CALL(NtSetInformationFileFunction)("NtSetInformationFile", Arg(0) | Arg(4), kOpensNothing,
                                          kNtDenied, {BeforeNaming, AfterNaming}),
    PV_CALL(ReOpenFileFunction)("ReOpenFile", Arg(0), kReturnsHandle, kInUse),
    PV_CALL(GetFinalPathFunction)("GetFinalPathNameByHandleW", Arg(0), kOpensNothing, kDenied),
    PV_CALL(RtlGetVersionFunction)("RtlGetVersion", kNoArgument, kOpensNothing, kNtInvalid),
    PV_IMPORT(OpenSCManagerW, Arg(2), kOpensNothing, kDenied),
    PV_IMPORT(OpenServiceW, Arg(1), kReturnsHandle, kDenied),
    PV_IMPORT(CreateServiceW, Arg(1), kReturnsHandle, kDenied),
    PV_IMPORT(ChangeServiceConfigW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(DeleteService, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(ChangeServiceConfig2W, Arg(1), kOpensNothing, kDenied),
    PV_IMPORT(QueryServiceConfigW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(QueryServiceConfig2W, Arg(1), kOpensNothing, kDenied),
    PV_IMPORT(QueryServiceStatus, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(QueryServiceStatusEx, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(EnumDependentServicesW, Arg(0), kOpensNothing, kDenied),
    PV_IMPORT(StartServiceW, Arg(0), kOpensNothing, kTimeout),
    PV_IMPORT(ControlService, Arg(0), kOpensNothing, kTimeout),
    PV_IMPORT(RegOpenKeyExW, Arg(1), 4, kRegistryDenied),
    PV_IMPORT(RegCreateKeyExW, Arg(1), 7, kRegistryDenied),
    PV_IMPORT(RegEnumKeyExW, Arg(0) | Arg(1), kOpensNothing, kRegistryDenied),
    PV_IMPORT(RegQueryValueExW, Arg(0) | Arg(1), kOpensNothing, kRegistryDenied),
    PV_IMPORT(RegSetValueExW, Arg(0) | Arg(1), kOpensNothing, kRegistryDenied),
    PV_IMPORT(RegDeleteKeyW, Arg(0) | Arg(1), kOpensNothing, kRegistryDenied),
    PV_IMPORT(RegFlushKey, Arg(0), kOpensNothing, kRegistryDenied),
    PV_IMPORT(CoInitialize, kNoArgument, kOpensNothing, kComOutOfMemory),
    PV_IMPORT(CoCreateInstance, Arg(0), kOpensNothing, kComDenied),
    PV_CALL(SetPathMethod)("IShellLinkW::SetPath", Arg(1), kOpensNothing, kComOutOfMemory, {},
                           &IID_IShellLinkW, 20),
    PV_CALL(SaveMethod)("IPersistFile::Save", Arg(1), kOpensNothing, kComDenied, {},
                        &IID_IPersistFile, 6),
    {},
};

void Replace(void** slot, void* replacement) {
    DWORD protection = 0;
    VirtualProtect(slot, sizeof(*slot), PAGE_READWRITE, &protection);
    *slot = replacement;
    VirtualProtect(slot, sizeof(*slot), protection, &protection);
}

// Every shell link shares its class's vtables: those of one made here are the
// product's too.
void PatchShellLinkMethods() {
    IUnknown* link = nullptr;
    if (FAILED(CoCreateInstance(CLSID_ShellLink, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                                reinterpret_cast<void**>(&link)))) {
        return;
    }
    for (Call* call = g_calls; call->name != nullptr; ++call) {
        IUnknown* face = nullptr;
        if (call->interfaceId == nullptr ||
            FAILED(link->QueryInterface(*call->interfaceId, reinterpret_cast<void**>(&face)))) {
            continue;
        }
        void** vtable = *reinterpret_cast<void***>(face);
        if (vtable[call->slot] != call->wrapper) {
            call->original = vtable[call->slot];
            Replace(&vtable[call->slot], call->wrapper);
        }
        face->Release();
    }
    link->Release();
}

struct ThreadStart {
    unsigned(__stdcall* entry)(void*);
    void* argument;
};

decltype(&_beginthreadex) g_beginThread;
decltype(&GetProcAddress) g_getProcAddress;

// The product starts no other thread with it. The shell link's methods are
// patched here, outside the loader lock, where COM may start; the worker's
// COM is as the product left it.
unsigned __stdcall RunWorker(void* start) {
    const ThreadStart worker = *static_cast<ThreadStart*>(start);
    delete static_cast<ThreadStart*>(start);
    const bool comStarted = SUCCEEDED(CoInitialize(nullptr));
    PatchShellLinkMethods();
    if (comStarted) {
        CoUninitialize();
    }
    g_plan.worker = GetCurrentThreadId();
    return worker.entry(worker.argument);
}

uintptr_t __cdecl BeginThread(void* security, unsigned stack, unsigned(__stdcall* entry)(void*),
                              void* argument, unsigned flags, unsigned* id) {
    return g_beginThread(security, stack, RunWorker, new ThreadStart{entry, argument}, flags, id);
}

Call* Row(const char* name) {
    for (Call* call = g_calls; call->name != nullptr; ++call) {
        if (call->interfaceId == nullptr && strcmp(call->name, name) == 0) {
            return call;
        }
    }
    return nullptr;
}

FARPROC WINAPI FindFunction(HMODULE module, LPCSTR name) {
    const FARPROC found = g_getProcAddress(module, name);
    Call* call = IS_INTRESOURCE(name) || found == nullptr ? nullptr : Row(name);
    if (call == nullptr) {
        return found;
    }
    call->original = reinterpret_cast<void*>(found);
    return reinterpret_cast<FARPROC>(call->wrapper);
}

// Keeps the original in *original and gives the replacement, for the calls
// the table or the worker's marking needs.
void* ReplacementOf(const char* name, void** original) {
    if (strcmp(name, "GetProcAddress") == 0) {
        g_getProcAddress = reinterpret_cast<decltype(g_getProcAddress)>(*original);
        return reinterpret_cast<void*>(&FindFunction);
    }
    if (strcmp(name, "_beginthreadex") == 0) {
        g_beginThread = reinterpret_cast<decltype(g_beginThread)>(*original);
        return reinterpret_cast<void*>(&BeginThread);
    }
    Call* call = Row(name);
    if (call == nullptr) {
        return nullptr;
    }
    call->original = *original;
    return call->wrapper;
}

void PatchImports(BYTE* base) {
    const auto* headers = reinterpret_cast<IMAGE_NT_HEADERS*>(
        base + reinterpret_cast<IMAGE_DOS_HEADER*>(base)->e_lfanew);
    const IMAGE_DATA_DIRECTORY& imports =
        headers->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    for (auto* library = reinterpret_cast<IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         library->Name != 0; ++library) {
        auto* names = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + library->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) {
                continue;
            }
            const char* name =
                reinterpret_cast<IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData)->Name;
            void** slot = reinterpret_cast<void**>(&slots->u1.Function);
            if (void* replacement = ReplacementOf(name, slot)) {
                Replace(slot, replacement);
            }
        }
    }
}

// Windows's answers in place of Wine's, unless turned off to compare the two.
void TakeWindowsAnswers() {
    wchar_t enabled[4] = L"";
    GetEnvironmentVariableW(L"PORTVANE_WINDOWS_ANSWERS", enabled, 4);
    for (const WindowsAnswer* answer = kWindowsAnswers;
         answer->function != nullptr && wcscmp(enabled, L"0") != 0; ++answer) {
        Row(answer->function)->answer = answer->answer;
    }
}

}  // namespace

std::wstring OpenedName(const void* handle) {
    const std::string* name = NameOf(handle);
    if (name == nullptr) {
        return std::wstring();
    }
    std::wstring wide(name->size(), L'\0');
    wide.resize(static_cast<size_t>(MultiByteToWideChar(CP_UTF8, 0, name->data(),
                                                        static_cast<int>(name->size()), &wide[0],
                                                        static_cast<int>(wide.size()))));
    return wide;
}

// Loaded by the driver with LoadLibraryW on a thread of the setup (the one
// call it makes there: Wine runs it in the middle of whatever the setup does).
// Fails the load when the hooks cannot be put in.
BOOL WINAPI DllMain(HINSTANCE, DWORD reason, void*) {
    if (reason != DLL_PROCESS_ATTACH) {
        return TRUE;
    }
    wchar_t plan[32] = L"";
    wchar_t logPath[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"PORTVANE_FAULTS", plan, 32);
    GetEnvironmentVariableW(L"PORTVANE_FAULT_LOG", logPath, MAX_PATH);
    g_plan.mode = static_cast<char>(plan[0]);
    const wchar_t* colon = wcschr(plan, L':');
    g_plan.point = colon != nullptr ? _wtoi(colon + 1) : 0;
    wcscpy_s(g_plan.unflushedPath, logPath);
    wcscat_s(g_plan.unflushedPath, L".unflushed");
    g_plan.log = CreateFileW(logPath, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                             OPEN_ALWAYS, 0, nullptr);
    Remember(HKEY_LOCAL_MACHINE, "HKLM");
    Remember(HKEY_CURRENT_USER, "HKCU");
    TakeWindowsAnswers();
    PatchImports(reinterpret_cast<BYTE*>(GetModuleHandleW(nullptr)));
    return g_plan.log != INVALID_HANDLE_VALUE && g_beginThread != nullptr;
}
