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

TEST(InstallLog, LineGetsOneLineFeedAndNoCarriageReturn) {
    EXPECT_EQ(L"C:\\x を作成できません。\n", LogLine(L"%s を作成できません。", L"C:\\x"));
    EXPECT_EQ(L"OS Version: Major 6 Minor 1\n", LogLine(L"OS Version: Major %d Minor %d", 6, 1));
}

TEST(InstallLog, OverlongLineIsCutButStillEndsTheLine) {
    const std::wstring longName(1500, L'x');
    const std::wstring line = LogLine(L"%s", longName.c_str());
    ASSERT_EQ(kLogLineChars - 1, line.size());
    EXPECT_EQ(L'\n', line.back());
    EXPECT_EQ(std::wstring(1022, L'x'), line.substr(0, 1022));
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

// The process-wide log: these run in one process, in order, as the program writes it.
TEST(InstallLog, OsMessageFollowsTheLineAndKeepsTheLastError) {
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
}

TEST(InstallLog, ErrorWithoutSystemTextCarriesItsNumber) {
    const std::wstring before = ReadLogText();
    SetLastError(0x2000FFFF);
    AppendOsMessage();
    const std::wstring added = std::wstring(ReadLogText()).substr(before.size());
    EXPECT_EQ(L"OS Message:Error 536936447\n", added);
}
