#include "wizard/startup_timing.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/scoped_handle.h"
#include "platform/text_format.h"

namespace {

LARGE_INTEGER g_entryCounter = {};
bool g_reported = false;

// "entry_to_welcome_ms 812.345\n", with msvcrt's _snprintf and integers: C++'s
// snprintf is mingw's own printf, which the exe need not carry.
void FormatTimingLine(char (&line)[64], long long ticks, long long ticksPerSecond) {
    const long long microseconds = ticksPerSecond > 0 ? ticks * 1000000 / ticksPerSecond : 0;
    _snprintf(line, sizeof(line) - 1, "entry_to_welcome_ms %lu.%03lu\n",
              static_cast<unsigned long>(microseconds / 1000),
              static_cast<unsigned long>(microseconds % 1000));
    line[sizeof(line) - 1] = '\0';
}

}  // namespace

void MarkProgramEntry() {
    QueryPerformanceCounter(&g_entryCounter);
}

void ReportWelcomeShown() {
    if (g_reported || g_entryCounter.QuadPart == 0) {
        return;
    }
    g_reported = true;
    LARGE_INTEGER now;
    LARGE_INTEGER frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    wchar_t path[kPathChars];
    const DWORD length = GetEnvironmentVariableW(L"PORTVANE_TIMING_FILE", path, kPathChars);
    if (length == 0 || length >= kPathChars) {
        return;
    }
    ScopedFileHandle file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) {
        return;
    }
    char line[64];
    FormatTimingLine(line, now.QuadPart - g_entryCounter.QuadPart, frequency.QuadPart);
    DWORD written = 0;
    WriteFile(file.get(), line, static_cast<DWORD>(strlen(line)), &written, nullptr);
}
