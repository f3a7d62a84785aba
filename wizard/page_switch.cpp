#include "wizard/page_switch.h"

#include <iterator>

#include "platform/text_format.h"
#include "setup/install_log.h"
#include "setup/process_state.h"
#include "setup/resource_ids.h"
#include "setup/strings.h"
#include "wizard/accessibility.h"
#include "wizard/viewer_text.h"

namespace {

constexpr size_t kPageTextChars = 2048;

enum class Step {
    kText,                 // the string as loaded
    kTextWithCaption,      // the string formatted with the caption text
    kTextWithProductName,  // the string formatted with the product display name
    kEnable,
    kDisable,
    kEnableUnlessChecked,  // enabled exactly when `detail` is not checked
    kShow,
    kHide,
    kCheck,
    kFocus,
    kFocusUnlessShownHasIt,  // the focus to the control where no shown, enabled control has it
    kDropFocus,
    kShowInstallLog,
    kAccessibleName,       // the string `detail` as the control's name for screen readers
};

struct PageStep {
    Step step;
    int control;
    int detail;  // string id of the text and name steps, deciding control of kEnableUnlessChecked
};

// Each page's steps run in the order given.
constexpr PageStep kWelcomeSteps[] = {
    {Step::kTextWithCaption, IDC_PAGE_TITLE, IDS_WELCOME_TITLE},
    {Step::kTextWithCaption, IDC_PAGE_MESSAGE, IDS_WELCOME_MESSAGE},
    {Step::kDisable, IDC_BACK, 0},
    {Step::kEnable, IDC_NEXT, 0},
    {Step::kHide, IDC_VIEWER, 0},
    {Step::kHide, IDC_DISAGREE, 0},
    {Step::kHide, IDC_AGREE, 0},
    {Step::kHide, IDC_LICENSE_PROMPT, 0},
    {Step::kShow, IDC_PAGE_MESSAGE, 0},
    {Step::kFocus, IDCANCEL, 0},
};

constexpr PageStep kLicenceSteps[] = {
    {Step::kText, IDC_PAGE_TITLE, IDS_LICENSE_TITLE},
    {Step::kText, IDC_LICENSE_PROMPT, IDS_LICENSE_PROMPT},
    {Step::kEnable, IDC_BACK, 0},
    {Step::kEnable, IDC_AGREE, 0},
    {Step::kEnable, IDC_DISAGREE, 0},
    {Step::kEnableUnlessChecked, IDC_NEXT, IDC_DISAGREE},
    {Step::kShow, IDC_VIEWER, 0},
    {Step::kShow, IDC_DISAGREE, 0},
    {Step::kShow, IDC_AGREE, 0},
    {Step::kShow, IDC_LICENSE_PROMPT, 0},
    {Step::kHide, IDC_PAGE_MESSAGE, 0},
    {Step::kFocus, IDCANCEL, 0},
};

// Next keeps its state: page 2 is left forward only with Next enabled. The
// focus stays, unless it was on a control this page disables or hides (the
// agree button, after its mnemonic and Next's): then it goes to Next, where a
// click on Next leaves it.
constexpr PageStep kConfirmationSteps[] = {
    {Step::kText, IDC_PAGE_TITLE, IDS_CONFIRM_TITLE},
    {Step::kTextWithCaption, IDC_PAGE_MESSAGE, IDS_CONFIRM_MESSAGE},
    {Step::kEnable, IDC_BACK, 0},
    {Step::kDisable, IDC_AGREE, 0},
    {Step::kDisable, IDC_DISAGREE, 0},
    {Step::kHide, IDC_VIEWER, 0},
    {Step::kHide, IDC_DISAGREE, 0},
    {Step::kHide, IDC_AGREE, 0},
    {Step::kHide, IDC_LICENSE_PROMPT, 0},
    {Step::kShow, IDC_PAGE_MESSAGE, 0},
    {Step::kFocusUnlessShownHasIt, IDC_NEXT, 0},
};

// Windows leaves the focus on a control it disables; with every button
// disabled, nothing is left to hold it.
constexpr PageStep kProgressSteps[] = {
    {Step::kTextWithCaption, IDC_PAGE_TITLE, IDS_PROGRESS_TITLE},
    {Step::kText, IDC_PAGE_MESSAGE, IDS_PROGRESS_MESSAGE},
    {Step::kDisable, IDCANCEL, 0},
    {Step::kDisable, IDC_NEXT, 0},
    {Step::kDisable, IDC_BACK, 0},
    {Step::kDropFocus, 0, 0},
};

constexpr PageStep kCompletionSteps[] = {
    {Step::kText, IDC_PAGE_TITLE, IDS_DONE_TITLE},
    {Step::kTextWithCaption, IDC_PAGE_MESSAGE, IDS_DONE_MESSAGE},
    {Step::kText, IDC_NEXT, IDS_CLOSE_BUTTON},
    {Step::kEnable, IDC_NEXT, 0},
    {Step::kShow, IDC_LAUNCH_CHECK, 0},
    {Step::kTextWithProductName, IDC_LAUNCH_CHECK, IDS_LAUNCH_CHECK},
    {Step::kCheck, IDC_LAUNCH_CHECK, 0},
    {Step::kFocus, IDC_NEXT, 0},
};

// The viewer covers the lower part of the message, which stays visible. A
// screen reader without annotations names the viewer after the static before
// it, the licence prompt: hidden here, it names the log instead.
constexpr PageStep kFailureSteps[] = {
    {Step::kText, IDC_PAGE_TITLE, IDS_FAILED_TITLE},
    {Step::kTextWithCaption, IDC_PAGE_MESSAGE, IDS_FAILED_MESSAGE},
    {Step::kText, IDC_NEXT, IDS_CLOSE_BUTTON},
    {Step::kEnable, IDC_NEXT, 0},
    {Step::kShowInstallLog, IDC_VIEWER, 0},
    {Step::kText, IDC_LICENSE_PROMPT, IDS_LOG_VIEWER_NAME},
    {Step::kShow, IDC_VIEWER, 0},
    {Step::kAccessibleName, IDC_VIEWER, IDS_LOG_VIEWER_NAME},
    {Step::kShow, IDC_COPY_LOG, 0},
    {Step::kFocus, IDC_NEXT, 0},
};

struct Page {
    const PageStep* first;
    const PageStep* last;
};

constexpr Page kPages[] = {
    {std::begin(kWelcomeSteps), std::end(kWelcomeSteps)},
    {std::begin(kLicenceSteps), std::end(kLicenceSteps)},
    {std::begin(kConfirmationSteps), std::end(kConfirmationSteps)},
    {std::begin(kProgressSteps), std::end(kProgressSteps)},
    {std::begin(kCompletionSteps), std::end(kCompletionSteps)},
    {std::begin(kFailureSteps), std::end(kFailureSteps)},
};

// The loaded string is the format; the shared message buffer is used at once.
void SetFormattedText(HWND control, int stringId, const wchar_t* argument) {
    wchar_t text[kPageTextChars];
    FormatText(text, LoadMessageText(static_cast<unsigned>(stringId)), argument);
    SetWindowTextW(control, text);
}

void RunStep(HWND dialog, const PageStep& entry) {
    HWND control = GetDlgItem(dialog, entry.control);
    switch (entry.step) {
        case Step::kText:
            SetWindowTextW(control, LoadMessageText(static_cast<unsigned>(entry.detail)));
            break;
        case Step::kTextWithCaption:
            SetFormattedText(control, entry.detail, g_captionText);
            break;
        case Step::kTextWithProductName:
            SetFormattedText(control, entry.detail, ProductDisplayName());
            break;
        case Step::kEnable:
            EnableWindow(control, TRUE);
            break;
        case Step::kDisable:
            EnableWindow(control, FALSE);
            break;
        case Step::kEnableUnlessChecked:
            EnableWindow(control, SendDlgItemMessageW(dialog, entry.detail, BM_GETCHECK, 0, 0) !=
                                      BST_CHECKED);
            break;
        case Step::kShow:
            ShowWindow(control, SW_SHOW);
            break;
        case Step::kHide:
            ShowWindow(control, SW_HIDE);
            break;
        case Step::kCheck:
            SendMessageW(control, BM_SETCHECK, BST_CHECKED, 0);
            break;
        case Step::kFocus:
            // Through the dialog manager, so a focused push button is the one Enter
            // presses and no other keeps the default look.
            SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
            break;
        case Step::kFocusUnlessShownHasIt: {
            HWND focus = GetFocus();
            if (focus == nullptr || !IsWindowVisible(focus) || !IsWindowEnabled(focus)) {
                SendMessageW(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE);
            }
            break;
        }
        case Step::kDropFocus:
            SetFocus(nullptr);
            break;
        case Step::kShowInstallLog:
            ShowPlainText(control, ReadLogText());
            break;
        case Step::kAccessibleName:
            SetAccessibleName(control, LoadMessageText(static_cast<unsigned>(entry.detail)));
            break;
    }
}

}  // namespace

void SwitchToPage(HWND dialog, int page) {
    if (page < kWelcomePage || page > kFailurePage) {
        return;
    }
    const Page& steps = kPages[page - 1];
    for (const PageStep* entry = steps.first; entry != steps.last; ++entry) {
        RunStep(dialog, *entry);
    }
    AnnouncePage(dialog);
}
