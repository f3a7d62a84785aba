#include "wizard/accessibility.h"

#include <oleacc.h>

#include "platform/scoped_handle.h"
#include "setup/resource_ids.h"

namespace {

// A title and a message of the page switch's 2,048 characters each, and a line feed.
constexpr int kTextChars = 2048;
constexpr size_t kDescriptionChars = 2 * kTextChars + 1;

const DWORD kClientObject = static_cast<DWORD>(OBJID_CLIENT);

// An annotation stays with its window once the service object is released.
ComPtr<IAccPropServices> AnnotationService() {
    ComPtr<IAccPropServices> service;
    CoCreateInstance(CLSID_AccPropServices, nullptr, CLSCTX_INPROC_SERVER, IID_IAccPropServices,
                     reinterpret_cast<void**>(service.receive()));
    return service;
}

bool IsShown(HWND control) {
    return (GetWindowLongW(control, GWL_STYLE) & WS_VISIBLE) != 0;
}

// The welcome page is set up before the dialog shows, when the dialog manager
// is yet to give the focus: to the first tab stop, as the opening asks. So the
// style, not IsWindowVisible, tells a shown control.
HWND FocusedControl(HWND dialog) {
    HWND focus = IsWindowVisible(dialog) ? GetFocus() : GetNextDlgTabItem(dialog, nullptr, FALSE);
    return focus != nullptr && GetParent(focus) == dialog && IsShown(focus) ? focus : nullptr;
}

// The title, a line feed and the message as the page shows them; the licence
// page's message is its prompt.
void DescribePage(HWND dialog, wchar_t (&description)[kDescriptionChars]) {
    const int titleLength = GetDlgItemTextW(dialog, IDC_PAGE_TITLE, description, kTextChars);
    description[titleLength] = L'\n';
    HWND message = GetDlgItem(dialog, IDC_PAGE_MESSAGE);
    if (!IsShown(message)) {
        message = GetDlgItem(dialog, IDC_LICENSE_PROMPT);
    }
    GetWindowTextW(message, description + titleLength + 1, kTextChars);
}

}  // namespace

void SetAccessibleName(HWND control, const wchar_t* name) {
    if (const ComPtr<IAccPropServices> service = AnnotationService()) {
        service.get()->SetHwndPropStr(control, kClientObject, CHILDID_SELF, PROPID_ACC_NAME, name);
    }
}

void AnnouncePage(HWND dialog) {
    HWND focus = FocusedControl(dialog);
    HWND announced = focus != nullptr ? focus : GetDlgItem(dialog, IDC_PAGE_MESSAGE);
    if (const ComPtr<IAccPropServices> service = AnnotationService()) {
        wchar_t description[kDescriptionChars];
        DescribePage(dialog, description);
        for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr;
             control = GetWindow(control, GW_HWNDNEXT)) {
            if (control != announced) {
                service.get()->ClearHwndProps(control, kClientObject, CHILDID_SELF,
                                              &PROPID_ACC_DESCRIPTION, 1);
            }
        }
        service.get()->SetHwndPropStr(announced, kClientObject, CHILDID_SELF,
                                      PROPID_ACC_DESCRIPTION, description);
    }
    // A page set up before the dialog shows is read with the focus the system
    // announces when it does.
    if (IsWindowVisible(dialog)) {
        NotifyWinEvent(focus != nullptr ? EVENT_OBJECT_FOCUS : EVENT_SYSTEM_ALERT, announced,
                       OBJID_CLIENT, CHILDID_SELF);
    }
}
