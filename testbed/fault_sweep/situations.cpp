#include "testbed/fault_sweep/situations.h"

#include "platform/scoped_handle.h"
#include "testbed/driver.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

namespace {

constexpr wchar_t kOtherRoot[] = L"C:\\Apps";
constexpr wchar_t kOtherFolder[] = L"C:\\Apps\\Portvane Old";
// Generous: six slots on two cores start a service's process slowly, and a
// situation not made costs its point.
constexpr DWORD kSettleMs = 30000;

std::wstring Quoted(const std::wstring& path) {
    return L"\"" + path + L"\"";
}

// Sends the control, again while the service cannot take it yet (still
// starting), and waits for the state it leads to.
bool Control(const wchar_t* name, DWORD control, DWORD awaited) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(
        OpenServiceW(manager.get(), name, SERVICE_STOP | SERVICE_PAUSE_CONTINUE));
    SERVICE_STATUS status = {};
    return WaitUntil(
               [&] {
                   return ControlService(service.get(), control, &status) != FALSE ||
                          GetLastError() != ERROR_SERVICE_CANNOT_ACCEPT_CTRL;
               },
               kSettleMs) &&
           WaitForServiceState(name, awaited, kSettleMs);
}

// Registered anew to run command, started with the argument given (none when
// null) and running.
bool RunAs(const wchar_t* name, const std::wstring& command, const wchar_t* argument = nullptr) {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    ScopedServiceHandle service(
        OpenServiceW(manager.get(), name, SERVICE_START | SERVICE_CHANGE_CONFIG));
    const wchar_t* arguments[] = {argument};
    return ChangeServiceConfigW(service.get(), SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                SERVICE_NO_CHANGE, command.c_str(), nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr) &&
           // The stopped process may still be on its way out.
           WaitUntil(
               [&] {
                   return StartServiceW(service.get(), argument != nullptr ? 1 : 0, arguments) !=
                          FALSE;
               },
               kSettleMs) &&
           WaitForServiceState(name, SERVICE_RUNNING, kSettleMs);
}

// The first service run by the test service (services/tests/stuck_service.cpp)
// in a phase of its own.
bool RunTheFirstAs(const wchar_t* phase) {
    return Control(kPService, SERVICE_CONTROL_STOP, SERVICE_STOPPED) &&
           RunAs(kPService, Quoted(BuildPath(L"services\\pv_test_stuck_service.exe")), phase);
}

// Every text value of the uninstall entry that names the folder names the
// other one; true when the command to uninstall does.
bool PointTheEntryAt(const std::wstring& from, const std::wstring& to) {
    ScopedRegistryKey entry;
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstallEntryKey, 0, KEY_ALL_ACCESS, entry.receive()) !=
        ERROR_SUCCESS) {
        return false;
    }
    std::vector<std::pair<std::wstring, std::wstring>> rewritten;
    wchar_t name[256];
    wchar_t text[2048];
    for (DWORD index = 0;; ++index) {
        DWORD nameChars = 256;
        DWORD bytes = sizeof(text) - sizeof(wchar_t);
        DWORD type = 0;
        if (RegEnumValueW(entry.get(), index, name, &nameChars, nullptr, &type,
                          reinterpret_cast<BYTE*>(text), &bytes) != ERROR_SUCCESS) {
            break;
        }
        text[bytes / sizeof(wchar_t)] = L'\0';
        std::wstring value = text;
        for (size_t at = value.find(from); type == REG_SZ && at != std::wstring::npos;
             at = value.find(from, at + to.size())) {
            value.replace(at, from.size(), to);
        }
        if (value != text) {
            rewritten.emplace_back(name, value);
        }
    }
    for (const auto& [valueName, value] : rewritten) {
        RegSetValueExW(entry.get(), valueName.c_str(), 0, REG_SZ,
                       reinterpret_cast<const BYTE*>(value.c_str()),
                       static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    return ReadValue(HKEY_LOCAL_MACHINE, kUninstallEntryKey, L"UninstallString").text.find(to) !=
           std::wstring::npos;
}

// Installed in the other folder: stopped, moved there with nothing left in
// Program Files, registered and entered from there, and started again.
bool MoveToTheOtherFolder() {
    const std::wstring folder = DefaultInstallFolder();
    if (!Control(kPService, SERVICE_CONTROL_STOP, SERVICE_STOPPED) ||
        !Control(kDService, SERVICE_CONTROL_STOP, SERVICE_STOPPED)) {
        return false;
    }
    CreateDirectoryW(kOtherRoot, nullptr);
    // A stopped service's process may still hold its file.
    if (!WaitUntil([&] { return MoveFileExW(folder.c_str(), kOtherFolder, 0) != FALSE; },
                   kSettleMs)) {
        return false;
    }
    // The maker folder goes too, with what a killed run left in it: the
    // upgrade makes it again, and its calls keep their numbers from point to point.
    const std::wstring maker = folder.substr(0, folder.rfind(L'\\'));
    DeleteTree(maker);
    bool made = PointTheEntryAt(folder, kOtherFolder) && !PathExists(maker);
    for (const wchar_t* service : {kPService, kDService}) {
        const std::wstring command =
            Quoted(kOtherFolder + (L"\\" + std::wstring(service)) + L".exe");
        made = RunAs(service, command) && QueryService(service).binaryPath == command && made;
    }
    return made && !PathExists(folder);
}

bool RunOtherServices() {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
    const std::wstring command = Quoted(BuildPath(L"testbed\\service_host.exe"));
    bool made = true;
    for (const OtherService& other : kOtherServices) {
        ScopedServiceHandle service(CreateServiceW(
            manager.get(), other.name, other.name, SERVICE_START, other.type, SERVICE_AUTO_START,
            SERVICE_ERROR_NORMAL, command.c_str(), nullptr, nullptr,
            other.dependsOnTheFirst ? L"Portvane_PService\0" : nullptr, nullptr, nullptr));
        made = made && StartServiceW(service.get(), 0, nullptr) &&
               WaitForServiceState(other.name, SERVICE_RUNNING, kSettleMs);
    }
    return made;
}

// As "sc delete" does it: marked for deletion, still running.
bool DeleteBothServices() {
    ScopedServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
    bool made = true;
    for (const wchar_t* name : {kPService, kDService}) {
        ScopedServiceHandle service(OpenServiceW(manager.get(), name, DELETE));
        made = made && DeleteService(service.get()) &&
               QueryService(name).currentState == SERVICE_RUNNING;
    }
    return made;
}

struct Situation {
    const wchar_t* name;
    bool (*make)();
    bool runsOtherServices;  // kOtherServices
};

const Situation kSituations[] = {
    {L"product-folder", [] { return true; }, false},
    {L"other-folder", MoveToTheOtherFolder, false},
    {L"dependent", RunOtherServices, true},
    {L"paused",
     [] {
         return RunTheFirstAs(L"pausable") &&
                Control(kPService, SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
     },
     false},
    {L"deleted", DeleteBothServices, false},
    {L"slow-stop", [] { return RunTheFirstAs(L"slow-stop-10s"); }, false},
};

const Situation* Find(const std::wstring& name) {
    for (const Situation& situation : kSituations) {
        if (name == situation.name) {
            return &situation;
        }
    }
    return nullptr;
}

}  // namespace

std::vector<std::wstring> SituationNames() {
    std::vector<std::wstring> names;
    for (const Situation& situation : kSituations) {
        names.push_back(situation.name);
    }
    return names;
}

bool MakeSituation(const std::wstring& name) {
    const Situation* situation = Find(name);
    RemoveSituationAdditions();
    return situation != nullptr && situation->make();
}

std::wstring StoppedSituationServices(const std::wstring& name) {
    const Situation* situation = Find(name);
    std::wstring stopped;
    for (const OtherService& other : kOtherServices) {
        if (situation == nullptr || !situation->runsOtherServices) {
            break;
        }
        WaitUntil(
            [&] {
                const DWORD state = QueryService(other.name).currentState;
                return state != SERVICE_START_PENDING && state != SERVICE_STOP_PENDING;
            },
            kSettleMs);
        if (QueryService(other.name).currentState != SERVICE_RUNNING) {
            stopped += (stopped.empty() ? L"" : L"+") + std::wstring(other.name);
        }
    }
    return stopped;
}

void RemoveSituationAdditions() {
    for (const OtherService& other : kOtherServices) {
        DeleteServiceIfPresent(other.name);
    }
    DeleteTree(kOtherRoot);
}
