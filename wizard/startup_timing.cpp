#include "wizard/startup_timing.h"

#include <windows.h>

#include <cstdio>
#include <cstring>

#include "platform/scoped_handle.h"
#include "platform/text_format.h"

namespace {

LARGE_INTEGER g_entryCounter = {};
bool g_reported = false;

// "entry_to_welcome_ms 812.345\n"
void FormatTimingLine(char (&line)[64], long long ticks, long long ticksPerSecond) {
    const double milliseconds = ticksPerSecond > 0 ? static_cast<double>(ticks) * 1000.0 /
                                                         static_cast<double>(ticksPerSecond)
                                                   : 0.0;
    snprintf(line, sizeof(line), "entry_to_welcome_ms %.3f\n", milliseconds);
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
