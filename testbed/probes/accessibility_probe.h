// What a screen reader learns from the setup: the focus and alert events its
// windows raise, and the name and description of the object each names, read
// as an MSAA client reads them when the event arrives.
#pragma once

#include <windows.h>

#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct AccessibleText {
    std::wstring name;
    std::wstring description;  // empty where the object has none
};

// The client object of a window, as an MSAA client reads it.
AccessibleText ReadAccessibleText(HWND window);

struct AccessibleEvent {
    DWORD event;  // EVENT_OBJECT_FOCUS or EVENT_SYSTEM_ALERT
    HWND window;
    AccessibleText text;
};

// Hooks every process (Wine delivers nothing to a hook filtered by process)
// and keeps the events of windows of `processId`, from its construction on.
class AccessibilityProbe {
  public:
    explicit AccessibilityProbe(DWORD processId);
    ~AccessibilityProbe();
    AccessibilityProbe(const AccessibilityProbe&) = delete;
    AccessibilityProbe& operator=(const AccessibilityProbe&) = delete;

    size_t Count();
    // The events kept so far, which are then forgotten.
    std::vector<AccessibleEvent> Take();

  private:
    static void CALLBACK OnEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object,
                                 LONG child, DWORD thread, DWORD time);
    void Listen(HANDLE ready);

    DWORD processId_;
    DWORD threadId_ = 0;
    std::mutex mutex_;
    std::vector<AccessibleEvent> events_;
    std::thread thread_;
};
