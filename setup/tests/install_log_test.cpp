// The log's buffer arithmetic, then the process-wide log as the program writes it.
#include "setup/install_log.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

TEST(InstallLog, AppendThatWouldOverflowIsCutAndTerminated) {
    wchar_t log[10] = L"abcdef";
    log[9] = L'#';  // must never be written past the terminator slot
    AppendCut(log, 9, L"ghijkl");
    EXPECT_STREQ(L"abcdefgh", log);
    EXPECT_EQ(L'#', log[9]);
    AppendCut(log, 9, L"more");
    EXPECT_STREQ(L"abcdefgh", log);
}

TEST(InstallLog, LinesEndInOneLineFeedEvenWhenCutAndOsMessagesKeepTheLastError) {
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
    EXPECT_EQ(0x2000FFFFu, GetLastError());
    AppendLogLine(L"%s", std::wstring(1500, L'x').c_str());  // cut to its 1,024-character line
    EXPECT_EQ(log + L"OS Message:Error 536936447\n" + std::wstring(kLogLineChars - 2, L'x') + L"\n",
              ReadLogText());
}
