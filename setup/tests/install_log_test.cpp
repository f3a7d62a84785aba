// The log's line and buffer arithmetic, then the process-wide log as the program writes it.
#include "setup/install_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

std::wstring LogLine(const wchar_t* format, ...) {
    wchar_t line[kLogLineChars];
    va_list args;
    va_start(args, format);
    FormatLogLine(line, format, args);
    va_end(args);
    return line;
}

}  // namespace

TEST(InstallLog, EachLineEndsInOneLineFeedEvenWhenCut) {
    EXPECT_EQ(L"C:\\x を作成できません。\n", LogLine(L"%s を作成できません。", L"C:\\x"));
    const std::wstring longName(1500, L'x');
    EXPECT_EQ(std::wstring(kLogLineChars - 2, L'x') + L"\n", LogLine(L"%s", longName.c_str()));
}

TEST(InstallLog, AppendThatWouldOverflowIsCutAndTerminated) {
    wchar_t log[10] = L"abcdef";
    log[9] = L'#';  // must never be written past the terminator slot
    AppendCut(log, 9, L"ghijkl");
    EXPECT_STREQ(L"abcdefgh", log);
    EXPECT_EQ(L'#', log[9]);
    AppendCut(log, 9, L"more");
    EXPECT_STREQ(L"abcdefgh", log);
}

TEST(InstallLog, OsMessageFollowsItsLineKeepsTheLastErrorAndFallsBackToTheNumber) {
    AppendLogLine(L"インストールログ");
    SetLastError(ERROR_ACCESS_DENIED);
    AppendLogLine(L"%s をコピーできません。", L"C:\\target");
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    AppendOsMessage();
    EXPECT_EQ(static_cast<DWORD>(ERROR_ACCESS_DENIED), GetLastError());
    const std::wstring log = ReadLogText();
    const std::wstring head = L"インストールログ\nC:\\target をコピーできません。\nOS Message:";
    ASSERT_EQ(head, log.substr(0, head.size()));
    EXPECT_GT(log.size(), head.size() + 2);  // the system's own text
    EXPECT_EQ(L'\n', log.back());

    SetLastError(0x2000FFFF);  // no system text
    AppendOsMessage();
    EXPECT_EQ(log + L"OS Message:Error 536936447\n", ReadLogText());
    EXPECT_EQ(0x2000FFFFu, GetLastError());
}
