#include "testbed/probes/accessibility_probe.h"

#include <oleacc.h>

#include "platform/scoped_handle.h"

namespace {

// One probe at a time: the hook's callback has no context of its own.
AccessibilityProbe* g_probe = nullptr;

std::wstring Text(IAccessible* object, VARIANT child,
                  HRESULT (STDMETHODCALLTYPE IAccessible::*getter)(VARIANT, BSTR*)) {
    BSTR text = nullptr;
    std::wstring read;
    if ((object->*getter)(child, &text) == S_OK && text != nullptr) {
        read = text;
    }
    SysFreeString(text);
    return read;
}

// In a multithreaded apartment, so that a call into the setup pumps no message
// of this thread: no event is taken in the middle of another.
AccessibleText ReadFromEvent(HWND window, LONG object, LONG child) {
    const bool comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    AccessibleText read;
    IAccessible* accessible = nullptr;
    VARIANT childId = {};
    if (AccessibleObjectFromEvent(window, static_cast<DWORD>(object), static_cast<DWORD>(child),
                                  &accessible, &childId) == S_OK) {
        const ComPtr<IAccessible> owned(accessible);
        read = {Text(accessible, childId, &IAccessible::get_accName),
                Text(accessible, childId, &IAccessible::get_accDescription)};
    }
    if (comStarted) {
        CoUninitialize();
    }
    return read;
}

}  // namespace

AccessibleText ReadAccessibleText(HWND window) {
    return ReadFromEvent(window, OBJID_CLIENT, CHILDID_SELF);
}

// Through UI Automation's own client functions (mingw-w64 has no import
// library for them), which ask the window and its proxies as Narrator's do.
LONG ReadLiveSetting(HWND window) {
    using NodeFromHandle = HRESULT(WINAPI*)(HWND, void**);
    using GetPropertyValue = HRESULT(WINAPI*)(void*, LONG, VARIANT*);
    using NodeRelease = BOOL(WINAPI*)(void*);
    constexpr LONG kLiveSettingPropertyId = 30135;
    const bool comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    LONG setting = -1;
    {
        static const ScopedModule uiAutomation(LoadLibraryW(L"uiautomationcore.dll"));
        const auto function = [&](const char* name) {
            return reinterpret_cast<void*>(GetProcAddress(uiAutomation.get(), name));
        };
        const auto nodeFromHandle = reinterpret_cast<NodeFromHandle>(function("UiaNodeFromHandle"));
        const auto getValue = reinterpret_cast<GetPropertyValue>(function("UiaGetPropertyValue"));
        const auto release = reinterpret_cast<NodeRelease>(function("UiaNodeRelease"));
        void* node = nullptr;
        VARIANT value = {};
        if (nodeFromHandle != nullptr && getValue != nullptr && release != nullptr &&
            SUCCEEDED(nodeFromHandle(window, &node))) {
            if (SUCCEEDED(getValue(node, kLiveSettingPropertyId, &value))) {
                setting = value.vt == VT_I4 ? value.lVal : 0;
            }
            VariantClear(&value);
            release(node);
        }
    }
    if (comStarted) {
        CoUninitialize();
    }
    return setting;
}

AccessibilityProbe::AccessibilityProbe(DWORD processId) : processId_(processId) {
    g_probe = this;
    const ScopedKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    thread_ = std::thread(&AccessibilityProbe::Listen, this, ready.get());
    WaitForSingleObject(ready.get(), 10000);
}

AccessibilityProbe::~AccessibilityProbe() {
    PostThreadMessageW(threadId_, WM_QUIT, 0, 0);
    thread_.join();
    g_probe = nullptr;
}

size_t AccessibilityProbe::Count() {
    const std::lock_guard<std::mutex> lock(mutex_);
    return events_.size() - unread_;
}

std::vector<AccessibleEvent> AccessibilityProbe::Take() {
    std::vector<AccessibleEvent> taken;
    for (;;) {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            if (unread_ == 0) {
                taken.swap(events_);
                return taken;
            }
        }
        Sleep(10);
    }
}

void CALLBACK AccessibilityProbe::OnEvent(HWINEVENTHOOK, DWORD event, HWND window, LONG object,
                                          LONG child, DWORD, DWORD) {
    DWORD processId = 0;
    if (window == nullptr || GetWindowThreadProcessId(window, &processId) == 0 ||
        processId != g_probe->processId_) {
        return;
    }
    // Kept in order before it is read: the read waits for the setup's answer,
    // and meanwhile the hook delivers the events raised after it.
    size_t index = 0;
    {
        const std::lock_guard<std::mutex> lock(g_probe->mutex_);
        index = g_probe->events_.size();
        g_probe->events_.push_back({event, window, {}});
        ++g_probe->unread_;
    }
    AccessibleText text = ReadFromEvent(window, object, child);
    const std::lock_guard<std::mutex> lock(g_probe->mutex_);
    g_probe->events_[index].text = std::move(text);
    --g_probe->unread_;
}

// Out-of-context events come as messages to the thread that hooked them.
void AccessibilityProbe::Listen(HANDLE ready) {
    threadId_ = GetCurrentThreadId();
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    HWINEVENTHOOK hooks[] = {
        SetWinEventHook(EVENT_SYSTEM_ALERT, EVENT_SYSTEM_ALERT, nullptr, OnEvent, 0, 0,
                        WINEVENT_OUTOFCONTEXT),
        SetWinEventHook(EVENT_OBJECT_FOCUS, EVENT_OBJECT_FOCUS, nullptr, OnEvent, 0, 0,
                        WINEVENT_OUTOFCONTEXT),
        SetWinEventHook(EVENT_OBJECT_NAMECHANGE, EVENT_OBJECT_NAMECHANGE, nullptr, OnEvent, 0, 0,
                        WINEVENT_OUTOFCONTEXT),
        SetWinEventHook(kLiveRegionChanged, kLiveRegionChanged, nullptr, OnEvent, 0, 0,
                        WINEVENT_OUTOFCONTEXT)};
    SetEvent(ready);
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        DispatchMessageW(&message);
    }
    for (HWINEVENTHOOK hook : hooks) {
        UnhookWinEvent(hook);
    }
}
