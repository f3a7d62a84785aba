#include "platform/text_format.h"

#include <gtest/gtest.h>

#include <string>

TEST(TextFormat, JoinsWithOneBackslashAndRefusesAPathThatWouldNotFit) {
    wchar_t path[kPathChars];
    ASSERT_TRUE(JoinPath(path, L"C:\\Program Files (x86)\\ORBEK", L"Portvane"));
    EXPECT_STREQ(L"C:\\Program Files (x86)\\ORBEK\\Portvane", path);
    const std::wstring folder(250, L'a');
    EXPECT_TRUE(JoinPath(path, folder.c_str(), L"12345678"));  // 259 characters fit
    EXPECT_EQ(259u, wcslen(path));
    EXPECT_FALSE(JoinPath(path, folder.c_str(), L"123456789"));  // 260 do not
    EXPECT_STREQ(L"", path);
}

TEST(TextFormat, AppendKeepsTheBufferWhenTheTextWouldNotFit) {
    wchar_t text[8] = L"abc";
    EXPECT_TRUE(AppendText(text, 8, L"defg"));
    EXPECT_STREQ(L"abcdefg", text);
    EXPECT_FALSE(AppendText(text, 8, L"h"));
    EXPECT_STREQ(L"abcdefg", text);
}
