#include "setup/startup.h"

#include "payload/extract.h"
#include "payload/module_table.h"
#include "platform/process_images.h"
#include "platform/scoped_handle.h"
#include "platform/system_info.h"
#include "platform/system_library.h"
#include "platform/text_format.h"
#include "services/component_table.h"
#include "services/previous_installation.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "setup/resource_ids.h"
#include "setup/strings.h"
#include "wizard/wizard_dialog.h"

namespace {

constexpr int kExitRefused = 1;
constexpr int kExitNormal = 0;
// What Windows Installer reports for the same outcome, so that a deployment
// tool counts a failed installation as failed.
constexpr int kExitInstallFailed = ERROR_INSTALL_FAILURE;

// Tests whether a product program runs by its single-instance mutex; setup
// never keeps the mutex, so two copies of setup do not refuse each other.
// Elevated over the shoulder, setup is another user than the program, and a
// mutex it may not open answers access denied: it exists all the same.
bool ProgramIsRunning(const wchar_t* nameWord) {
    wchar_t mutexName[kNameChars];
    FormatText(mutexName, L"%s_Mutex", nameWord);
    ScopedKernelHandle mutex(CreateMutexW(nullptr, TRUE, mutexName));
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
}

// A program of the product by its file name; the services run for good and
// are stopped by the removal itself.
bool IsProductProgram(const wchar_t* fileName) {
    for (const ComponentRow& row : kComponentTable) {
        if (CompareStringOrdinal(fileName, -1, row.fileName, -1, TRUE) == CSTR_EQUAL) {
            return false;
        }
    }
    for (const PayloadModule* row = kModuleTable; row->fileName != nullptr; ++row) {
        if (CompareStringOrdinal(fileName, -1, row->fileName, -1, TRUE) == CSTR_EQUAL) {
            return true;
        }
    }
    return false;
}

// A mutex lives in its own session's namespace: the tray program of another
// user (fast user switching, Remote Desktop) is seen only by its image, which
// the removal could then not delete.
bool ProductRunsInAnySession() {
    wchar_t folder[kPathChars];
    return FindPreviousInstallFolder(folder) && AnyProcessRunsFrom(folder, IsProductProgram);
}

void ShowRefusal(unsigned messageId) {
    MessageBoxW(nullptr, LoadMessageText(messageId), ProductDisplayName(), MB_ICONERROR);
}

void WriteFirstLogLines() {
    const OsVersion version = QueryOsVersion();
    AppendLogLine(L"インストールログ");
    AppendLogLine(L"OS Version: Major %d Minor %d", static_cast<int>(version.major),
                  static_cast<int>(version.minor));
    if (IsX86()) {
        AppendLogLine(L"CPU: x86");
    }
    if (IsX64()) {
        AppendLogLine(L"CPU: x64");
    }
}

void BuildCaptionText() {
    FormatText(g_captionText, L"%s %s", ProductDisplayName(), kVersionWord);
}

// The exit code: the failure page ends with a failure, as does a wizard that
// could not open. Without the rich edit library it cannot show its licence:
// it ends without a word.
int RunWizard(HINSTANCE instance) {
    ScopedModule richEdit(LoadSystemLibrary(L"Riched20.dll"));
    if (!richEdit) {
        return kExitRefused;
    }
    // The pages describe themselves to screen readers through a COM service.
    const bool comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_WIZARD), nullptr, WizardDialogProc, 0);
    if (comStarted) {
        CoUninitialize();
    }
    return g_installResultMessage == kMessageInstallFailed ? kExitInstallFailed : kExitNormal;
}

// RemoveStagingFolder does nothing when no staging folder was created, so the
// refusals before the extraction share this clean-up.
void CleanUp() {
    DeleteObject(g_whiteBrush);
    if (g_titleFont != nullptr) {
        DeleteObject(g_titleFont);
    }
    RemoveStagingFolder();
}

}  // namespace

int RunSetup(HINSTANCE instance) {
    g_applicationIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_APPLICATION_ICON));
    g_whiteBrush = CreateSolidBrush(RGB(255, 255, 255));
    WriteFirstLogLines();

    if (!IsDotNet4Installed()) {
        ShowRefusal(IDS_DOTNET_MISSING);
        CleanUp();
        return kExitRefused;
    }
    BuildCaptionText();
    if (ProgramIsRunning(L"Portvane")) {
        ShowRefusal(IDS_ALREADY_RUNNING);
        CleanUp();
        return kExitRefused;
    }
    if (ProgramIsRunning(L"Portvane_Tray")) {
        ShowRefusal(IDS_ALREADY_RUNNING);
        return kExitRefused;
    }
    if (ProductRunsInAnySession()) {
        ShowRefusal(IDS_ALREADY_RUNNING);
        CleanUp();
        return kExitRefused;
    }
    if (!ExtractPayload()) {
        MessageBoxW(nullptr, LoadMessageText(IDS_CANNOT_INSTALL), g_captionText, MB_SYSTEMMODAL);
        CleanUp();
        return kExitRefused;
    }
    const int exitCode = RunWizard(instance);
    CleanUp();
    return exitCode;
}
