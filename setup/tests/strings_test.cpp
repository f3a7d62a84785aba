#include "setup/strings.h"

#include <gtest/gtest.h>

#include <string>

#include "setup/resource_ids.h"

TEST(Strings, JapaneseTextsSurviveTheResourceCompilerRoundTrip) {
    EXPECT_STREQ(L"インストールできません。", LoadMessageText(IDS_CANNOT_INSTALL));
    EXPECT_STREQ(L"閉じる(&C)", LoadMessageText(IDS_CLOSE_BUTTON));
    EXPECT_STREQ(L"しばらくお待ちください...", LoadMessageText(IDS_PROGRESS_MESSAGE));
    EXPECT_STREQ(L"%s をインストールする準備ができました。\n\n\n[次へ]をクリックしてインストールを開始して下さい。",
                 LoadMessageText(IDS_CONFIRM_MESSAGE));
}

TEST(Strings, SecondLoadReplacesTheFirstInTheSharedBuffer) {
    const wchar_t* first = LoadMessageText(IDS_DONE_TITLE);
    const wchar_t* second = LoadMessageText(IDS_FAILED_TITLE);
    EXPECT_EQ(first, second);
    EXPECT_STREQ(L"インストールが失敗しました。", first);
}

TEST(Strings, ProductNameHasItsOwnBuffer) {
    const wchar_t* name = ProductDisplayName();
    LoadMessageText(IDS_COPY_DONE);
    EXPECT_STREQ(L"Portvane", name);
}

TEST(Strings, WelcomeMessageKeepsEightLineFeedsBeforeTheNotice) {
    const std::wstring text = LoadMessageText(IDS_WELCOME_MESSAGE);
    const size_t feeds = text.find(L'\n');
    ASSERT_NE(std::wstring::npos, feeds);
    EXPECT_EQ(std::wstring(8, L'\n'), text.substr(feeds, 8));
    EXPECT_NE(L'\n', text[feeds + 8]);
    EXPECT_EQ(0u, text.find(L"%s "));
}
