#include "setup/install_log.h"

#include <windows.h>

#include <cwchar>

#include "platform/scoped_handle.h"
#include "platform/text_format.h"

namespace {

wchar_t g_installLog[kInstallLogChars];

// Keeps the last error across a step that may itself change it.
class LastErrorKeeper {
  public:
    LastErrorKeeper() : error_(GetLastError()) {}
    ~LastErrorKeeper() { SetLastError(error_); }
    DWORD error() const { return error_; }

  private:
    DWORD error_;
};

}  // namespace

void AppendCut(wchar_t* log, size_t capacity, const wchar_t* text) {
    const size_t used = wcsnlen(log, capacity);
    if (used + 1 >= capacity) {
        return;
    }
    size_t adding = wcslen(text);
    if (used + adding >= capacity) {
        adding = capacity - 1 - used;
    }
    wmemcpy(log + used, text, adding);
    log[used + adding] = L'\0';
}

void FormatLogLine(wchar_t (&line)[kLogLineChars], const wchar_t* format, va_list args) {
    // Leave room for the line feed; a cut line still ends the line.
    const int written = _vsnwprintf(line, kLogLineChars - 1, format, args);
    size_t length = written < 0 ? kLogLineChars - 2 : static_cast<size_t>(written);
    if (length > kLogLineChars - 2) {
        length = kLogLineChars - 2;
    }
    line[length] = L'\n';
    line[length + 1] = L'\0';
}

void AppendLogLine(const wchar_t* format, ...) {
    LastErrorKeeper keeper;
    wchar_t line[kLogLineChars];
    va_list args;
    va_start(args, format);
    FormatLogLine(line, format, args);
    va_end(args);
    AppendCut(g_installLog, kInstallLogChars, line);
}

void AppendOsMessage() {
    LastErrorKeeper keeper;
    wchar_t* systemText = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, keeper.error(), 0x400, reinterpret_cast<wchar_t*>(&systemText), 0, nullptr);
    ScopedLocalMemory systemBuffer(systemText);
    AppendCut(g_installLog, kInstallLogChars, L"OS Message:");
    if (length > 0 && systemText != nullptr) {
        AppendCut(g_installLog, kInstallLogChars, systemText);
    } else {
        wchar_t number[32];
        FormatText(number, L"Error %lu", keeper.error());
        AppendCut(g_installLog, kInstallLogChars, number);
    }
    AppendCut(g_installLog, kInstallLogChars, L"\n");
}

const wchar_t* ReadLogText() {
    return g_installLog;
}
