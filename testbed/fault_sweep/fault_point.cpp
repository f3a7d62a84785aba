// One point of the fault sweep (scripts/faultsweep.sh), in the slot it runs in,
// from a whole running installation, with the situation (testbed/fault_sweep/situations.h)
// made just before the upgrade:
//   fault_point install                    a fresh installation; fails unless whole
//   fault_point situations                 the situations' names
//   fault_point count SITUATION LOG        an upgrade under the injector:
//                                          "calls counted: C (SITUATION)"
//   fault_point KIND:N SITUATION LOG       an upgrade with call N failed once
//                                          (fail), failed each time (persist) or
//                                          the setup killed at it (kill), then
//                                          one more plain run
//   fault_point restart:N SITUATION LOG    the setup killed at call N, the
//                                          files it left unflushed listed; the
//                                          sweep then cuts the power and
//                                          restarts the machine, and runs
//   fault_point restarted:N SITUATION LOG  the check of both services before
//                                          any setup runs, then one more run
// A point prints one line and exits with kLeftNoService (for a restart point:
// a service not running whole after the restart) and kNotHealed as found.
#include <cstdio>
#include <cwchar>
#include <string>

#include "payload/module_table.h"
#include "setup/resource_ids.h"
#include "testbed/driver.h"
#include "testbed/fault_sweep/restart_point.h"
#include "testbed/fault_sweep/situations.h"
#include "testbed/product_state.h"
#include "testbed/test_helpers.h"

namespace {

constexpr DWORD kPageTimeoutMs = 10000;
constexpr DWORD kInstallTimeoutMs = 120000;
constexpr int kLeftNoService = 1;
constexpr int kNotHealed = 2;

// The promise: a failed call leaves both services running, or the setup ends
// installed. Excepted are the calls that, failing for good, leave nothing
// setup could do to make a service run: the entry's function, on an argument
// ending in `ending` when given.
struct Exception {
    const wchar_t* function;
    const wchar_t* ending;
    const char* reason;
};
const Exception kExceptions[] = {
    {L"CreateServiceW", nullptr,
     "the service manager refuses every registration of a service deleted while it ran"},
    {L"StartServiceW", nullptr, "the service refuses every start"},
};

enum class Shown { kCompletion, kFailure, kNone };
const char* const kShownNames[] = {"completion", "failure", "none"};

void Print(const std::wstring& text) {
    const int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), -1, &utf8[0], bytes, nullptr, nullptr);
    printf("%s\n", utf8.c_str());
    fflush(stdout);
}

std::wstring Wide(const char* text) {
    return std::wstring(text, text + strlen(text));
}

// Clicks and waits until the page title changes.
bool Advance(HWND wizard, int id) {
    const std::wstring title = ControlText(wizard, IDC_PAGE_TITLE);
    return WaitUntil([&] { return IsControlEnabled(wizard, id); }, kPageTimeoutMs) &&
           Click(wizard, id) &&
           WaitUntil([&] { return ControlText(wizard, IDC_PAGE_TITLE) != title; }, kPageTimeoutMs);
}

// From the welcome page to the installation's end: the page it showed, or
// none when the setup ended (killed) or hung, when it is killed; the wizard
// is closed after.
Shown Install(SetupProcess& setup, bool* hung = nullptr) {
    HWND wizard = WaitForDialog(setup.processId, L"", 30000);
    Shown shown = Shown::kNone;
    if (wizard != nullptr && Advance(wizard, IDC_NEXT) && Click(wizard, IDC_AGREE) &&
        Advance(wizard, IDC_NEXT) && Advance(wizard, IDC_NEXT)) {
        WaitUntil(
            [&] {
                shown = IsControlVisible(wizard, IDC_LAUNCH_CHECK) ? Shown::kCompletion
                        : IsControlVisible(wizard, IDC_COPY_LOG)   ? Shown::kFailure
                                                                   : Shown::kNone;
                return shown != Shown::kNone || WaitForExit(setup, 0) != STILL_ACTIVE;
            },
            kInstallTimeoutMs);
    }
    if (shown != Shown::kNone) {
        Click(wizard, IDC_NEXT);
        WaitForExit(setup, 30000);
    }
    if (hung != nullptr) {
        *hung = WaitForExit(setup, 0) == STILL_ACTIVE;
    }
    KillIfRunning(setup);
    return shown;
}

// Until no service of the product is starting or stopping any more: nothing
// else changes them once the setup has shown its page or ended.
void WaitForServicesToSettle() {
    WaitUntil(
        [] {
            for (const wchar_t* service : {kPService, kDService}) {
                const DWORD state = QueryService(service).currentState;
                if (state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING) {
                    return false;
                }
            }
            return true;
        },
        10000);
}

// The product's services that run (or stay paused, as an administrator may
// have left the first), and the situation's services of another program that
// do not: kept when all of them run.
struct Services {
    std::wstring text;
    bool productKept = true;
    bool othersRun = true;
};

Services ServicesNow(const std::wstring& situation) {
    WaitForServicesToSettle();
    Services services;
    std::wstring running;
    for (const wchar_t* service : {kPService, kDService}) {
        const DWORD state = QueryService(service).currentState;
        if (state == SERVICE_RUNNING || state == SERVICE_PAUSED) {
            running += (running.empty() ? L"" : L"+") + std::wstring(service) +
                       (state == SERVICE_PAUSED ? L"(paused)" : L"");
        } else {
            services.productKept = false;
        }
    }
    const std::wstring stopped = StoppedSituationServices(situation);
    services.othersRun = stopped.empty();
    services.text = (running.empty() ? L"none" : running) +
                    (stopped.empty() ? L"" : L", not running " + stopped);
    return services;
}

// The product's services that do not run as registered afresh: empty when both do.
std::wstring MissingServices() {
    WaitForServicesToSettle();
    std::wstring missing;
    const std::wstring folder = DefaultInstallFolder();
    for (const wchar_t* service : {kPService, kDService}) {
        const ServiceInfo info = QueryService(service);
        if (info.currentState != SERVICE_RUNNING || info.startType != SERVICE_AUTO_START ||
            info.binaryPath != L"\"" + folder + L"\\" + service + L".exe\"") {
            missing += std::wstring(L" ") + service;
        }
    }
    return missing;
}

// What a whole running installation lacks, as a fresh one has it, with the
// situation's services of another program running: empty when whole.
std::wstring Missing(const std::wstring& situation) {
    std::wstring missing;
    const std::wstring folder = DefaultInstallFolder();
    for (const PayloadModule* module = kModuleTable; module->fileName != nullptr; ++module) {
        if (!PathExists(folder + L"\\" + module->fileName)) {
            missing += std::wstring(L" ") + module->fileName;
        }
    }
    missing += MissingServices();
    for (const std::wstring& link : {StartMenuShortcutPath(), DesktopShortcutPath()}) {
        if (!PathExists(link)) {
            missing += L" " + link;
        }
    }
    if (ProductUninstallEntries() != 1 ||
        ValueCount(HKEY_LOCAL_MACHINE, kUninstallEntryKey) != 11) {
        missing += L" uninstall entry";
    }
    const std::wstring stopped = StoppedSituationServices(situation);
    return missing + (stopped.empty() ? L"" : L" " + stopped);
}

const Exception* ExceptionFor(const LoggedCall& failed) {
    for (const Exception& exception : kExceptions) {
        if (failed.function == exception.function && EndsWith(failed.argument, exception.ending)) {
            return &exception;
        }
    }
    return nullptr;
}

// The first call the plan marked: a persistent failure fails later ones too.
LoggedCall MarkedCall(const std::wstring& logPath) {
    for (const LoggedCall& call : ReadCallLog(logPath)) {
        if (!call.outcome.empty()) {
            return call;
        }
    }
    return LoggedCall();
}

std::wstring Named(const LoggedCall& call) {
    return call.function.empty() ? L"(not reached)" : call.function + L" " + call.argument;
}

// One more run, as Windows answers (what heals only under Wine does not
// count): empty when it leaves a whole installation, else what it left.
std::wstring HealingRun(const std::wstring& situation, const std::wstring& logPath) {
    SetupProcess healing = LaunchSetupUnderInjector(L"count", logPath + L".heal");
    const Shown healed = healing.process ? Install(healing) : Shown::kNone;
    const std::wstring missing = Missing(situation);
    return healed == Shown::kCompletion && missing.empty()
               ? L""
               : L", NOT HEALED (" + Wide(kShownNames[static_cast<int>(healed)]) + missing + L")";
}

int RunPoint(const std::wstring& plan, const std::wstring& situation, const std::wstring& logPath) {
    const std::wstring name = L"point " + plan + L" " + situation + L"\t";
    if (!MakeSituation(situation)) {
        Print(name + L"SITUATION NOT MADE");
        return kNotHealed;
    }
    SetupProcess setup = LaunchSetupUnderInjector(plan, logPath);
    if (!setup.process) {
        Print(name + L"the injector could not be loaded");
        return kNotHealed;
    }
    bool hung = false;
    const Shown shown = Install(setup, &hung);
    const Services services = ServicesNow(situation);
    // A completion page with less than a whole installation is worth knowing;
    // with the protection down it is a failure reported as success, whatever
    // the kind.
    const std::wstring missingAfter = shown == Shown::kCompletion ? Missing(situation) : L"";
    const bool lied = shown == Shown::kCompletion && !MissingServices().empty();
    const bool failing = plan[0] != L'k';
    const LoggedCall point = MarkedCall(logPath);
    const std::wstring healing = HealingRun(situation, logPath);
    const Exception* exception =
        plan.rfind(L"persist", 0) == 0 && !point.function.empty() ? ExceptionFor(point) : nullptr;
    const bool leftNoService =
        failing && ((shown != Shown::kCompletion && !services.productKept) || !services.othersRun);
    const std::wstring verdict = lied ? L"COMPLETION LIED"
                                 : leftNoService && exception != nullptr
                                     ? L"excepted: " + Wide(exception->reason)
                                 : leftNoService ? L"LEFT NO SERVICE"
                                                 : L"kept";
    Print(name + Named(point) + L"\tshown " + Wide(kShownNames[static_cast<int>(shown)]) +
          (hung ? L" (hung)" : L"") +
          (missingAfter.empty() ? L"" : L" (missing" + missingAfter + L")") + L"\trunning " +
          services.text + L"\t" + verdict + healing);
    return ((leftNoService && exception == nullptr) || lied ? kLeftNoService : 0) |
           (healing.empty() ? 0 : kNotHealed);
}

// restart:N, the first half of a restart point: the upgrade until the setup
// dies at call N. The sweep then cuts the power, restarts the machine and runs
// the second half. A line only when the point could not be run.
int RunUntilPowerCut(const std::wstring& plan, const std::wstring& situation,
                     const std::wstring& logPath) {
    const std::wstring name = L"point " + plan + L" " + situation + L"\t";
    if (!MakeSituation(situation)) {
        Print(name + L"SITUATION NOT MADE");
        return kNotHealed;
    }
    PrepareRestart(logPath + L".earlier");
    SetupProcess setup = LaunchSetupUnderInjector(plan, logPath);
    if (!setup.process) {
        Print(name + L"the injector could not be loaded");
        return kNotHealed;
    }
    Install(setup);
    RecordServicesMarkedForDeletion(logPath + L".marked");
    return 0;
}

// restarted:N, the second half: before any setup runs, both services run from
// a whole executable; then the healing run.
int CheckAfterRestart(const std::wstring& plan, const std::wstring& situation,
                      const std::wstring& logPath) {
    const std::wstring name =
        L"point restart" + plan.substr(plan.find(L':')) + L" " + situation + L"\t";
    const std::wstring deleted = DeleteServicesMarkedBeforeRestart(logPath + L".marked");
    const bool trayEnded = EndTrayStartedAtLogon();
    std::wstring running;
    std::wstring notRunning;
    std::wstring excepted;
    for (const wchar_t* service : {kPService, kDService}) {
        const std::wstring why = NotRunningWhole(service, logPath + L".earlier");
        if (why.empty()) {
            running += (running.empty() ? L"" : L"+") + std::wstring(service);
            continue;
        }
        // An administrator's deletion that setup had not yet replaced by a new
        // registration: nothing setup could do, as for the other kinds'
        // exceptions. Elsewhere a deletion can only be setup's own.
        const bool deletedByAnAdministrator =
            situation == L"deleted" && deleted.find(service) != std::wstring::npos;
        std::wstring& list = deletedByAnAdministrator ? excepted : notRunning;
        list += (list.empty() ? L"" : L"; ") + std::wstring(service) + L" " + why;
    }
    const std::wstring verdict =
        !notRunning.empty() ? L"NOT RUNNING AFTER RESTART (" + notRunning + L")"
        : !excepted.empty() ? L"excepted: deleted by an administrator before the upgrade, "
                              L"not registered again when the power went (" +
                                  excepted + L")"
                            : L"kept";
    const std::wstring healing = HealingRun(situation, logPath);
    Print(name + Named(MarkedCall(logPath)) + L"\trestarted, " +
          std::to_wstring(UnflushedFileCount(logPath + L".unflushed")) + L" files unflushed" +
          (trayEnded ? L", tray ended" : L"") + L"\trunning " +
          (running.empty() ? L"none" : running) + L"\t" + verdict + healing);
    return (notRunning.empty() ? 0 : kLeftNoService) | (healing.empty() ? 0 : kNotHealed);
}

bool IsPoint(const std::wstring& command) {
    for (const wchar_t* kind : {L"fail:", L"persist:", L"kill:", L"restart:", L"restarted:"}) {
        if (command.rfind(kind, 0) == 0 && command.size() > wcslen(kind)) {
            return true;
        }
    }
    return false;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    const std::wstring command = argc > 1 ? argv[1] : L"";
    const std::wstring situation = argc > 2 ? argv[2] : L"";
    const std::wstring logPath = argc > 3 ? argv[3] : L"";
    if (command == L"install") {
        RemoveSituationAdditions();
        ResetProductState();
        SetupProcess setup = LaunchSetup();
        const bool shown = Install(setup) == Shown::kCompletion;
        const std::wstring missing = Missing(L"");
        const bool whole = shown && missing.empty();
        Print(whole ? L"installed" : L"not installed:" + missing);
        return whole ? 0 : kNotHealed;
    }
    if (command == L"situations") {
        for (const std::wstring& name : SituationNames()) {
            Print(name);
        }
        return 0;
    }
    if (command == L"count") {
        if (!MakeSituation(situation)) {
            Print(L"situation not made: " + situation);
            return kNotHealed;
        }
        SetupProcess setup = LaunchSetupUnderInjector(L"count", logPath);
        const Shown shown = setup.process ? Install(setup) : Shown::kNone;
        const std::vector<LoggedCall> calls = ReadCallLog(logPath);
        Print(L"calls counted: " + std::to_wstring(calls.empty() ? 0 : calls.back().number) +
              L" (" + situation + L")");
        const bool whole = shown == Shown::kCompletion && Missing(situation).empty();
        RemoveSituationAdditions();
        return whole ? 0 : kNotHealed;
    }
    if (command.rfind(L"restart:", 0) == 0 && IsPoint(command)) {
        return RunUntilPowerCut(command, situation, logPath);
    }
    if (IsPoint(command)) {
        const int found = command.rfind(L"restarted:", 0) == 0
                              ? CheckAfterRestart(command, situation, logPath)
                              : RunPoint(command, situation, logPath);
        // Whatever runs next in the slot starts from no situation.
        RemoveSituationAdditions();
        return found;
    }
    Print(
        L"usage: fault_point install | situations | count SITUATION LOG |"
        L" fail:N|persist:N|kill:N|restart:N|restarted:N SITUATION LOG");
    return 64;
}
