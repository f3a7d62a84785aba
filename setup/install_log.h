// The in-memory install log: append-only wide text shown on the failure page.
// Nothing is written to disk.
#pragma once

#include <cstdarg>
#include <cstddef>

constexpr size_t kInstallLogChars = 0x40000;
constexpr size_t kLogLineChars = 1024;

// Formats printf-style into a 1,024-character line, adds "\n", appends it.
// A line too long for its buffer is cut so that it still ends in "\n"; an
// append that would overflow the log is cut to what fits, never past it.
void AppendLogLine(const wchar_t* format, ...);

// "OS Message:" + the system's text for GetLastError() + "\n". Leaves the
// thread's last error as it found it.
void AppendOsMessage();

const wchar_t* ReadLogText();

// The buffer arithmetic, apart from the process-wide log, for tests.
void AppendCut(wchar_t* log, size_t capacity, const wchar_t* text);
void FormatLogLine(wchar_t (&line)[kLogLineChars], const wchar_t* format, va_list args);
