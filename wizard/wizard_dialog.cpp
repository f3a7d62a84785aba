#include "wizard/wizard_dialog.h"

#include "install/worker.h"
#include "payload/module_table.h"
#include "payload/staging_folder.h"
#include "platform/text_format.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "setup/resource_ids.h"
#include "setup/strings.h"
#include "wizard/accessibility.h"
#include "wizard/dialog_opening.h"
#include "wizard/finishing_actions.h"
#include "wizard/install_start.h"
#include "wizard/page_switch.h"
#include "wizard/session_end.h"
#include "wizard/startup_timing.h"

namespace {

// The welcome page is set up while the dialog is hidden: it is announced once
// the dialog shows, after the system's own events for the showing.
constexpr UINT kMessageAnnouncePage = WM_APP + 3;

// The progress page is the worker's, from its start to its result.
void ShowPage(HWND dialog, int page) {
    const bool leavesWorker = g_currentPage == kProgressPage;
    g_currentPage = page;
    SwitchToPage(dialog, page);
    if (page == kProgressPage) {
        ShowSessionEndReason(dialog);
    } else if (leavesWorker) {
        ClearSessionEndReason(dialog);
    }
}

void LaunchInstalledApplication() {
    wchar_t path[kPathChars];
    if (JoinPath(path, g_installFolderPath, kModuleTable[0].fileName)) {
        LaunchAsDesktopUser(path);
    }
}

// Ends the wizard; closing the completion page starts the application when the
// user asked for it. Never under a running worker: the clean-up would delete the
// staging folder it copies from.
void EndWizard(HWND dialog) {
    if (g_currentPage == kProgressPage) {
        return;
    }
    EndDialog(dialog, 0);
    if (g_currentPage == kCompletionPage &&
        IsDlgButtonChecked(dialog, IDC_LAUNCH_CHECK) == BST_CHECKED) {
        LaunchInstalledApplication();
    }
}

void OnBack(HWND dialog) {
    ShowPage(dialog, g_currentPage - 1);
}

void OnNext(HWND dialog) {
    if (g_currentPage >= kProgressPage) {
        EndWizard(dialog);
        return;
    }
    ShowPage(dialog, g_currentPage + 1);
    if (g_currentPage == kProgressPage && !StartInstallThread(InstallWorkerEntry)) {
        ShowPage(dialog, kFailurePage);
    }
}

// Only the worker's own report, and only on the progress page: a stray or second
// one would offer Close while the worker still copies from the staging folder,
// or, before any installation, a Close that launches an application never installed.
void OnInstallResult(HWND dialog, UINT message) {
    if (g_currentPage == kProgressPage && message == g_installResultMessage) {
        ShowPage(dialog, message == kMessageInstallSucceeded ? kCompletionPage : kFailurePage);
    }
}

void OnAgreementClicked(HWND dialog) {
    EnableWindow(GetDlgItem(dialog, IDC_NEXT),
                 IsDlgButtonChecked(dialog, IDC_AGREE) == BST_CHECKED);
}

void OnCopyLog(HWND dialog) {
    const bool copied = CopyTextToClipboard(dialog, ReadLogText());
    MessageBoxW(dialog, LoadMessageText(copied ? IDS_COPY_DONE : IDS_COPY_FAILED), g_captionText,
                MB_OK);
}

// Wine delivers clicks to disabled and hidden buttons, and any program may post
// a command; a user on Windows reaches neither. The hidden copy button, above
// all, must not read the log while the worker is still writing it. Wine also
// turns the close box, Alt+F4 and Escape into command 2 while Cancel is
// disabled, which Windows does not: so command 2 counts only while Cancel is enabled.
bool IsOutOfUsersReach(HWND dialog, int id) {
    HWND control = GetDlgItem(dialog, id);
    return control != nullptr &&
           (!IsWindowEnabled(control) || (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) == 0);
}

void OnCommand(HWND dialog, int id, int code) {
    if (IsOutOfUsersReach(dialog, id)) {
        return;
    }
    switch (id) {
        case IDCANCEL:
            EndWizard(dialog);
            break;
        case IDC_BACK:
            OnBack(dialog);
            break;
        case IDC_NEXT:
            OnNext(dialog);
            break;
        case IDC_DISAGREE:
        case IDC_AGREE:
            if (code == BN_CLICKED) {
                OnAgreementClicked(dialog);
            }
            break;
        case IDC_COPY_LOG:
            OnCopyLog(dialog);
            break;
        default:
            break;
    }
}

// Windows ends the process once every window has answered: left for the
// clean-up after the dialog, the staging folder would stay in the user's
// temporary folder, where only administrators may delete it. Under a running
// worker, which copies from it, it cannot go.
void OnEndSession(HWND dialog, bool ending) {
    if (!ending || g_currentPage == kProgressPage) {
        return;
    }
    RemoveStagingFolder();
    EndDialog(dialog, 0);
}

}  // namespace

INT_PTR CALLBACK WizardDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_INITDIALOG:
            OpenWizardDialog(dialog);
            return TRUE;
        case WM_DESTROY:
            CloseWizardDialog(dialog);
            return FALSE;
        case WM_SHOWWINDOW:
            if (wParam != FALSE && lParam == 0) {
                PostMessageW(dialog, kMessageAnnouncePage, 0, 0);
            }
            return FALSE;
        case kMessageAnnouncePage:
            AnnouncePage(dialog);
            return TRUE;
        case WM_COMMAND:
            OnCommand(dialog, LOWORD(wParam), HIWORD(wParam));
            return FALSE;
        case WM_QUERYENDSESSION:
            // Refused while the worker runs; Windows shows the reason given for it.
            SetWindowLongPtrW(dialog, DWLP_MSGRESULT, g_currentPage != kProgressPage);
            return TRUE;
        case WM_ENDSESSION:
            OnEndSession(dialog, wParam != FALSE);
            return FALSE;
        case WM_CTLCOLORSTATIC:
            return TitleColourBrush(dialog, reinterpret_cast<HWND>(lParam),
                                    reinterpret_cast<HDC>(wParam));
        case kMessageInstallSucceeded:
        case kMessageInstallFailed:
            OnInstallResult(dialog, message);
            return TRUE;
        case WM_PAINT:
            // Painting goes on as usual; the first paint ends the start-up.
            ReportWelcomeShown();
            return FALSE;
        default:
            return FALSE;
    }
}
