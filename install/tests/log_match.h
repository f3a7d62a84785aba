// Compares what the install log gained with the lines a case expects, where an
// OS message line may be the one for a given error code or any system text.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

struct ExpectedLogItem {
    std::wstring line;  // without its "\n"; empty for an OS message
    bool osMessage = false;
    DWORD errorCode = 0;  // 0: any system text
};

ExpectedLogItem LogLine(const std::wstring& line);
ExpectedLogItem OsMessageLine(DWORD errorCode = 0);

// The text AppendOsMessage adds for an error code.
std::wstring OsMessageText(DWORD errorCode);

::testing::AssertionResult LogMatches(const std::wstring& added,
                                      const std::vector<ExpectedLogItem>& expected);
