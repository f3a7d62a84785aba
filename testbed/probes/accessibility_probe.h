// What a screen reader learns from the setup: the focus, alert, name-change and
// live-region events its windows raise, and the name and description of the
// object each names, read as an MSAA client reads them when the event arrives;
// and a window's live setting, read as a UI Automation client reads it.
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

// EVENT_OBJECT_LIVEREGIONCHANGED, declared for Windows 8 on.
constexpr DWORD kLiveRegionChanged = 0x8019;
constexpr LONG kPoliteLiveSetting = 1;

// A window's UI Automation LiveSetting, as Narrator reads it: 0 (off) where
// the window has none, -1 where it cannot be read.
LONG ReadLiveSetting(HWND window);

struct AccessibleEvent {
    DWORD event;  // EVENT_OBJECT_FOCUS, EVENT_SYSTEM_ALERT, EVENT_OBJECT_NAMECHANGE or kLiveRegionChanged
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

    // The events kept and read so far.
    size_t Count();
    // The events kept so far, once read, which are then forgotten.
    std::vector<AccessibleEvent> Take();

  private:
    static void CALLBACK OnEvent(HWINEVENTHOOK hook, DWORD event, HWND window, LONG object,
                                 LONG child, DWORD thread, DWORD time);
    void Listen(HANDLE ready);

    DWORD processId_;
    DWORD threadId_ = 0;
    std::mutex mutex_;
    std::vector<AccessibleEvent> events_;
    size_t unread_ = 0;  // of events_, those whose object is still being read
    std::thread thread_;
};
