// The injector's Windows answer for direct annotation. "Using Direct
// Annotation" and IAccPropServices (oleacc.h), Microsoft Learn: a program sets
// a property of a window's accessible object through the service, and an MSAA
// client that asks that object for the property gets the value set, until it
// is cleared. Wine's service keeps nothing (E_NOTIMPL). Here the values are
// kept by window, as given (a string or a VT_I4), and the window answers a
// client's WM_GETOBJECT with its standard object, the kept values in place of
// its own. A UI Automation property annotated by its GUID reaches UI
// Automation clients, as Windows' proxies give it them ("Using Direct
// Annotation"): the window answers UI Automation's root object request with a
// provider of those properties, and UI Automation adds the window's own.
#include <windows.h>
#include <oleacc.h>
#include <uiautomationcore.h>

#include <climits>
#include <initializer_list>
#include <map>
#include <string>
#include <tuple>
#include <vector>

#include "testbed/answers/windows_answers.h"

namespace {

struct Annotation {
    GUID property;
    VARTYPE type;  // VT_BSTR or VT_I4
    std::wstring text;
    LONG number;
};

// UI Automation's LiveSetting (uiautomationcore.h), which mingw-w64 does not declare.
constexpr GUID kLiveSettingProperty = {
    0xc12bcd8e, 0x2a8e, 0x4950, {0x8a, 0xe7, 0x36, 0x25, 0x11, 0x1d, 0x58, 0xeb}};
constexpr PROPERTYID kLiveSettingPropertyId = 30135;
constexpr LONG kUiaRootObjectId = -25;
using AccessibleId = std::tuple<HWND, LONG, LONG>;  // window, object, child

std::map<AccessibleId, std::vector<Annotation>> g_annotations;
std::map<HWND, WNDPROC> g_windowProcedures;

// The value kept for the property, or null.
const Annotation* Kept(const AccessibleId& id, const GUID& property) {
    const auto found = g_annotations.find(id);
    if (found != g_annotations.end()) {
        for (const Annotation& annotation : found->second) {
            if (IsEqualGUID(annotation.property, property)) {
                return &annotation;
            }
        }
    }
    return nullptr;
}

bool HasAnnotations(HWND window, LONG object) {
    const auto next = g_annotations.lower_bound({window, object, LONG_MIN});
    return next != g_annotations.end() && std::get<0>(next->first) == window &&
           std::get<1>(next->first) == object && !next->second.empty();
}

template <typename Interface>
class ComObject : public Interface {
  public:
    virtual ~ComObject() = default;
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&references_); }
    ULONG STDMETHODCALLTYPE Release() override {
        const LONG left = InterlockedDecrement(&references_);
        if (left == 0) {
            delete this;
        }
        return static_cast<ULONG>(left);
    }

  protected:
    HRESULT Query(REFIID id, void** object, std::initializer_list<const IID*> interfaces) {
        for (const IID* known : interfaces) {
            if (IsEqualIID(id, *known)) {
                *object = this;
                AddRef();
                return S_OK;
            }
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }

  private:
    LONG references_ = 1;
};

// The standard object of a window with the kept strings in place of its own.
class AnnotatedObject : public ComObject<IAccessible> {
  public:
    AnnotatedObject(HWND window, LONG object, IAccessible* standard)
        : window_(window), object_(object), standard_(standard) {}
    ~AnnotatedObject() override { standard_->Release(); }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        return Query(id, object, {&IID_IUnknown, &IID_IDispatch, &IID_IAccessible});
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
        return standard_->GetTypeInfoCount(count);
    }
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override {
        return standard_->GetTypeInfo(index, locale, info);
    }
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID id, LPOLESTR* names, UINT count, LCID locale,
                                            DISPID* ids) override {
        return standard_->GetIDsOfNames(id, names, count, locale, ids);
    }
    HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID id, LCID locale, WORD flags,
                                     DISPPARAMS* parameters, VARIANT* result, EXCEPINFO* exception,
                                     UINT* wrong) override {
        return standard_->Invoke(member, id, locale, flags, parameters, result, exception, wrong);
    }
    HRESULT STDMETHODCALLTYPE get_accParent(IDispatch** parent) override {
        return standard_->get_accParent(parent);
    }
    HRESULT STDMETHODCALLTYPE get_accChildCount(LONG* count) override {
        return standard_->get_accChildCount(count);
    }
    HRESULT STDMETHODCALLTYPE get_accChild(VARIANT child, IDispatch** object) override {
        return standard_->get_accChild(child, object);
    }
    HRESULT STDMETHODCALLTYPE get_accName(VARIANT child, BSTR* text) override {
        return Text(child, PROPID_ACC_NAME, text, &IAccessible::get_accName);
    }
    HRESULT STDMETHODCALLTYPE get_accValue(VARIANT child, BSTR* text) override {
        return Text(child, PROPID_ACC_VALUE, text, &IAccessible::get_accValue);
    }
    HRESULT STDMETHODCALLTYPE get_accDescription(VARIANT child, BSTR* text) override {
        return Text(child, PROPID_ACC_DESCRIPTION, text, &IAccessible::get_accDescription);
    }
    HRESULT STDMETHODCALLTYPE get_accRole(VARIANT child, VARIANT* role) override {
        return standard_->get_accRole(child, role);
    }
    HRESULT STDMETHODCALLTYPE get_accState(VARIANT child, VARIANT* state) override {
        return standard_->get_accState(child, state);
    }
    HRESULT STDMETHODCALLTYPE get_accHelp(VARIANT child, BSTR* text) override {
        return Text(child, PROPID_ACC_HELP, text, &IAccessible::get_accHelp);
    }
    HRESULT STDMETHODCALLTYPE get_accHelpTopic(BSTR* file, VARIANT child, LONG* topic) override {
        return standard_->get_accHelpTopic(file, child, topic);
    }
    HRESULT STDMETHODCALLTYPE get_accKeyboardShortcut(VARIANT child, BSTR* text) override {
        return Text(child, PROPID_ACC_KEYBOARDSHORTCUT, text,
                    &IAccessible::get_accKeyboardShortcut);
    }
    HRESULT STDMETHODCALLTYPE get_accFocus(VARIANT* child) override {
        return standard_->get_accFocus(child);
    }
    HRESULT STDMETHODCALLTYPE get_accSelection(VARIANT* children) override {
        return standard_->get_accSelection(children);
    }
    HRESULT STDMETHODCALLTYPE get_accDefaultAction(VARIANT child, BSTR* text) override {
        return Text(child, PROPID_ACC_DEFAULTACTION, text, &IAccessible::get_accDefaultAction);
    }
    HRESULT STDMETHODCALLTYPE accSelect(LONG flags, VARIANT child) override {
        return standard_->accSelect(flags, child);
    }
    HRESULT STDMETHODCALLTYPE accLocation(LONG* left, LONG* top, LONG* width, LONG* height,
                                          VARIANT child) override {
        return standard_->accLocation(left, top, width, height, child);
    }
    HRESULT STDMETHODCALLTYPE accNavigate(LONG direction, VARIANT start, VARIANT* end) override {
        return standard_->accNavigate(direction, start, end);
    }
    HRESULT STDMETHODCALLTYPE accHitTest(LONG x, LONG y, VARIANT* child) override {
        return standard_->accHitTest(x, y, child);
    }
    HRESULT STDMETHODCALLTYPE accDoDefaultAction(VARIANT child) override {
        return standard_->accDoDefaultAction(child);
    }
    HRESULT STDMETHODCALLTYPE put_accName(VARIANT child, BSTR text) override {
        return standard_->put_accName(child, text);
    }
    HRESULT STDMETHODCALLTYPE put_accValue(VARIANT child, BSTR text) override {
        return standard_->put_accValue(child, text);
    }

  private:
    using TextGetter = HRESULT (STDMETHODCALLTYPE IAccessible::*)(VARIANT, BSTR*);

    HRESULT Text(VARIANT child, const GUID& property, BSTR* text, TextGetter standard) {
        const Annotation* kept =
            child.vt == VT_I4 ? Kept({window_, object_, child.lVal}, property) : nullptr;
        if (kept == nullptr || kept->type != VT_BSTR) {
            return (standard_->*standard)(child, text);
        }
        *text = SysAllocString(kept->text.c_str());
        return *text != nullptr ? S_OK : E_OUTOFMEMORY;
    }

    HWND window_;
    LONG object_;
    IAccessible* standard_;
};

// The UI Automation properties annotated on a window's client object; what is
// not annotated is left to the providers UI Automation has of its own.
class AnnotatedProvider : public ComObject<IRawElementProviderSimple> {
  public:
    explicit AnnotatedProvider(HWND window) : window_(window) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        return Query(id, object, {&IID_IUnknown, &IID_IRawElementProviderSimple});
    }
    HRESULT STDMETHODCALLTYPE get_ProviderOptions(ProviderOptions* options) override {
        *options = ProviderOptions_ServerSideProvider;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPatternProvider(PATTERNID, IUnknown** pattern) override {
        *pattern = nullptr;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetPropertyValue(PROPERTYID id, VARIANT* value) override {
        VariantInit(value);
        const Annotation* kept =
            id == kLiveSettingPropertyId
                ? Kept({window_, OBJID_CLIENT, CHILDID_SELF}, kLiveSettingProperty)
                : nullptr;
        if (kept != nullptr && kept->type == VT_I4) {
            value->vt = VT_I4;
            value->lVal = kept->number;
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE get_HostRawElementProvider(
        IRawElementProviderSimple** host) override {
        return UiaFunction<HRESULT(WINAPI*)(HWND, IRawElementProviderSimple**)>(
            "UiaHostProviderFromHwnd")(window_, host);
    }

    // mingw-w64 has no import library for it; loaded once, it stays as the answers do.
    template <typename Function>
    static Function UiaFunction(const char* name) {
        static const HMODULE uiAutomation = LoadLibraryW(L"uiautomationcore.dll");
        return reinterpret_cast<Function>(
            reinterpret_cast<void*>(GetProcAddress(uiAutomation, name)));
    }

  private:
    HWND window_;
};

LRESULT CALLBACK AnswerAnnotated(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    const LONG object = static_cast<LONG>(lParam);
    if (message == WM_GETOBJECT && object == kUiaRootObjectId &&
        HasAnnotations(window, OBJID_CLIENT)) {
        IRawElementProviderSimple* provider = new AnnotatedProvider(window);
        const LRESULT result = AnnotatedProvider::UiaFunction<LRESULT(WINAPI*)(
            HWND, WPARAM, LPARAM, IRawElementProviderSimple*)>("UiaReturnRawElementProvider")(
            window, wParam, lParam, provider);
        provider->Release();
        return result;
    }
    IAccessible* standard = nullptr;
    if (message == WM_GETOBJECT && HasAnnotations(window, object) &&
        SUCCEEDED(CreateStdAccessibleObject(window, object, IID_IAccessible,
                                            reinterpret_cast<void**>(&standard)))) {
        IAccessible* annotated = new AnnotatedObject(window, object, standard);
        const LRESULT result = LresultFromObject(IID_IAccessible, wParam, annotated);
        annotated->Release();
        return result;
    }
    return CallWindowProcW(g_windowProcedures[window], window, message, wParam, lParam);
}

class PropertyService : public ComObject<IAccPropServices> {
  public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** object) override {
        return Query(id, object, {&IID_IUnknown, &IID_IAccPropServices});
    }
    HRESULT STDMETHODCALLTYPE SetHwndPropStr(HWND window, DWORD object, DWORD child,
                                             MSAAPROPID property, LPCWSTR value) override {
        return value != nullptr ? Keep(window, object, child, {property, VT_BSTR, value, 0})
                                : E_INVALIDARG;
    }
    HRESULT STDMETHODCALLTYPE SetHwndProp(HWND window, DWORD object, DWORD child,
                                          MSAAPROPID property, VARIANT value) override {
        switch (value.vt) {
            case VT_BSTR:
                return SetHwndPropStr(window, object, child, property, value.bstrVal);
            case VT_I4:
                return Keep(window, object, child, {property, VT_I4, L"", value.lVal});
            default:
                return E_INVALIDARG;
        }
    }
    HRESULT STDMETHODCALLTYPE ClearHwndProps(HWND window, DWORD object, DWORD child,
                                             const MSAAPROPID* properties, int count) override {
        const auto found = g_annotations.find(Id(window, object, child));
        for (int index = 0; found != g_annotations.end() && index < count; ++index) {
            std::vector<Annotation>& kept = found->second;
            for (auto annotation = kept.begin(); annotation != kept.end();) {
                annotation = IsEqualGUID(annotation->property, properties[index])
                                 ? kept.erase(annotation)
                                 : annotation + 1;
            }
        }
        return S_OK;
    }
    // What the wizard does not use answers as Wine's service does.
    HRESULT STDMETHODCALLTYPE SetPropValue(const BYTE*, DWORD, MSAAPROPID, VARIANT) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetPropServer(const BYTE*, DWORD, const MSAAPROPID*, int,
                                            IAccPropServer*, AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ClearProps(const BYTE*, DWORD, const MSAAPROPID*, int) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHwndPropServer(HWND, DWORD, DWORD, const MSAAPROPID*, int,
                                                IAccPropServer*, AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ComposeHwndIdentityString(HWND, DWORD, DWORD, BYTE**,
                                                        DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DecomposeHwndIdentityString(const BYTE*, DWORD, HWND*, DWORD*,
                                                          DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHmenuProp(HMENU, DWORD, MSAAPROPID, VARIANT) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHmenuPropStr(HMENU, DWORD, MSAAPROPID, LPCWSTR) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE SetHmenuPropServer(HMENU, DWORD, const MSAAPROPID*, int,
                                                 IAccPropServer*, AnnoScope) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ClearHmenuProps(HMENU, DWORD, const MSAAPROPID*, int) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE ComposeHmenuIdentityString(HMENU, DWORD, BYTE**, DWORD*) override {
        return E_NOTIMPL;
    }
    HRESULT STDMETHODCALLTYPE DecomposeHmenuIdentityString(const BYTE*, DWORD, HMENU*,
                                                           DWORD*) override {
        return E_NOTIMPL;
    }

  private:
    static AccessibleId Id(HWND window, DWORD object, DWORD child) {
        return {window, static_cast<LONG>(object), static_cast<LONG>(child)};
    }

    HRESULT Keep(HWND window, DWORD object, DWORD child, const Annotation& annotation) {
        if (!IsWindow(window)) {
            return E_INVALIDARG;
        }
        // The window's own thread, where its procedure can be replaced, is the caller's.
        if (g_windowProcedures.count(window) == 0) {
            g_windowProcedures[window] = reinterpret_cast<WNDPROC>(SetWindowLongPtrW(
                window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&AnswerAnnotated)));
        }
        std::vector<Annotation>& kept = g_annotations[Id(window, object, child)];
        ClearHwndProps(window, object, child, &annotation.property, 1);
        kept.push_back(annotation);
        return S_OK;
    }
};

}  // namespace

HRESULT WINAPI CoCreateInstanceAsWindows(REFCLSID type, IUnknown* outer, DWORD context,
                                         REFIID id, void** object) {
    if (!IsEqualCLSID(type, CLSID_AccPropServices)) {
        return CoCreateInstance(type, outer, context, id, object);
    }
    IAccPropServices* service = new PropertyService;
    const HRESULT result = service->QueryInterface(id, object);
    service->Release();
    return result;
}
