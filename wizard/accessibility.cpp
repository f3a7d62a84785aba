#include "wizard/accessibility.h"

#include <oleacc.h>

#include <iterator>

#include "platform/scoped_handle.h"
#include "setup/resource_ids.h"

namespace {

const DWORD kClientObject = static_cast<DWORD>(OBJID_CLIENT);

// UI Automation's LiveSetting property and its Polite value (uiautomationcore.h),
// which mingw-w64 does not declare.
constexpr GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr LONG kPoliteLiveSetting = 1;

// EVENT_OBJECT_LIVEREGIONCHANGED, declared for Windows 8 on; older systems
// deliver it as any other event, to readers that do not know it.
constexpr DWORD kLiveRegionChanged = 0x8019;

constexpr int kPageTexts[] = {IDC_PAGE_TITLE, IDC_PAGE_MESSAGE, IDC_LICENSE_PROMPT};

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

void RaiseClientEvent(DWORD event, HWND control) {
    NotifyWinEvent(event, control, OBJID_CLIENT, CHILDID_SELF);
}

}  // namespace

void MarkPageTextsLive(HWND dialog) {
    if (const ComPtr<IAccPropServices> service = AnnotationService()) {
        VARIANT polite = {};
        polite.vt = VT_I4;
        polite.lVal = kPoliteLiveSetting;
        for (const int id : kPageTexts) {
            service.get()->SetHwndProp(GetDlgItem(dialog, id), kClientObject, CHILDID_SELF,
                                       kLiveSettingProperty, polite);
        }
    }
}

void SetAccessibleName(HWND control, const wchar_t* name) {
    if (const ComPtr<IAccPropServices> service = AnnotationService()) {
        service.get()->SetHwndPropStr(control, kClientObject, CHILDID_SELF, PROPID_ACC_NAME, name);
    }
    // Whoever annotates raises the event the change would have raised.
    RaiseClientEvent(EVENT_OBJECT_NAMECHANGE, control);
}

void AnnouncePage(HWND dialog) {
    if (!IsWindowVisible(dialog)) {
        return;
    }
    HWND message = GetDlgItem(dialog, IDC_PAGE_MESSAGE);
    if (!IsShown(message)) {
        message = GetDlgItem(dialog, IDC_LICENSE_PROMPT);
    }
    RaiseClientEvent(kLiveRegionChanged, GetDlgItem(dialog, IDC_PAGE_TITLE));
    RaiseClientEvent(kLiveRegionChanged, message);
}

void ClearAnnotations(HWND dialog) {
    if (const ComPtr<IAccPropServices> service = AnnotationService()) {
        const MSAAPROPID properties[] = {kLiveSettingProperty, PROPID_ACC_NAME};
        for (const int id : {IDC_PAGE_TITLE, IDC_PAGE_MESSAGE, IDC_LICENSE_PROMPT, IDC_VIEWER}) {
            service.get()->ClearHwndProps(GetDlgItem(dialog, id), kClientObject, CHILDID_SELF,
                                          properties,
                                          static_cast<int>(std::size(properties)));
        }
    }
}
