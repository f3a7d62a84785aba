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
// A point prints one line and exits with kLeftNoService and kNotHealed as found.
#include <cstdio>
#include <cwchar>
#include <string>

#include "payload/module_table.h"
#include "setup/resource_ids.h"
#include "testbed/driver.h"
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
    const std::vector<LoggedCall> calls = ReadCallLog(logPath);
    const bool failing = plan[0] != L'k';
    LoggedCall point;
    // The first call made to fail: a persistent failure fails later ones too.
    for (const LoggedCall& call : calls) {
        if (!call.outcome.empty()) {
            point = call;
            break;
        }
    }
    // As Windows answers: what heals only under Wine does not count.
    SetupProcess healing = LaunchSetupUnderInjector(L"count", logPath + L".heal");
    const Shown healed = healing.process ? Install(healing) : Shown::kNone;
    const std::wstring missing = Missing(situation);
    const Exception* exception =
        plan.rfind(L"persist", 0) == 0 && !point.function.empty() ? ExceptionFor(point) : nullptr;
    const bool leftNoService =
        failing && ((shown != Shown::kCompletion && !services.productKept) || !services.othersRun);
    std::wstring verdict = lied ? L"COMPLETION LIED"
                           : leftNoService && exception != nullptr
                               ? L"excepted: " + Wide(exception->reason)
                           : leftNoService ? L"LEFT NO SERVICE"
                                           : L"kept";
    const bool whole = healed == Shown::kCompletion && missing.empty();
    if (!whole) {
        verdict += L", NOT HEALED (" + Wide(kShownNames[static_cast<int>(healed)]) + missing + L")";
    }
    Print(name +
          (point.function.empty() ? L"(not reached)" : point.function + L" " + point.argument) +
          L"\tshown " + Wide(kShownNames[static_cast<int>(shown)]) + (hung ? L" (hung)" : L"") +
          (missingAfter.empty() ? L"" : L" (missing" + missingAfter + L")") + L"\trunning " +
          services.text + L"\t" + verdict);
    return ((leftNoService && exception == nullptr) || lied ? kLeftNoService : 0) |
           (whole ? 0 : kNotHealed);
}

bool IsPoint(const std::wstring& command) {
    for (const wchar_t* kind : {L"fail:", L"persist:", L"kill:"}) {
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
    if (IsPoint(command)) {
        const int found = RunPoint(command, situation, logPath);
        // Whatever runs next in the slot starts from no situation.
        RemoveSituationAdditions();
        return found;
    }
    Print(
        L"usage: fault_point install | situations | count SITUATION LOG |"
        L" fail:N|persist:N|kill:N SITUATION LOG");
    return 64;
}
