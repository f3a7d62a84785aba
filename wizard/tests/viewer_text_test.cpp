// The viewer on Wine's own Rich Edit: the licence rendered from its RTF bytes,
// and the install log, however long, as plain text.
#include "wizard/viewer_text.h"

#include <gtest/gtest.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/scoped_handle.h"
#include "platform/system_library.h"
#include "testbed/driver.h"

namespace {

class ViewerText : public testing::Test {
  protected:
    void SetUp() override {
        static const ScopedModule richEdit(LoadSystemLibrary(L"Riched20.dll"));
        ASSERT_TRUE(richEdit);
        // The wizard's viewer: read-only, multi-line, scrollable.
        viewer_ = CreateWindowExW(
            0, L"RichEdit20W", L"",
            WS_POPUP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN, 0, 0,
            400, 200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, viewer_);
    }
    void TearDown() override { DestroyWindow(viewer_); }

    // Start and end of the selection in one value: 0 when the beginning shows.
    LRESULT Selection() const { return SendMessageW(viewer_, EM_GETSEL, 0, 0); }

    HWND viewer_ = nullptr;
};

}  // namespace

TEST_F(ViewerText, LicenceShowsAsFormattedJapaneseTextNotAsRtfSource) {
    ShowRichTextFile(viewer_, BuildPath(L"payload-files\\License.rtf").c_str());
    const std::wstring text = WindowText(viewer_);
    EXPECT_EQ(0u, text.find(L"Portvane\u00a0ソフトウェア使用許諾契約書")) << text.substr(0, 40);
    EXPECT_NE(std::wstring::npos, text.find(L"第1条（定義）"));
    EXPECT_EQ(std::wstring::npos, text.find(L"{\\rtf"));
    EXPECT_EQ(std::wstring::npos, text.find(L"\\'"));
    EXPECT_EQ(0, Selection());
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_BOLD;
    SendMessageW(viewer_, EM_SETSEL, 0, 1);
    SendMessageW(viewer_, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    EXPECT_TRUE(format.dwEffects & CFE_BOLD) << "the title is bold";
}

TEST_F(ViewerText, FileBytesReachTheViewerAsTheyAreAndAMissingFileChangesNothing) {
    SetWindowTextW(viewer_, L"before");
    ShowRichTextFile(viewer_, L"C:\\no such folder\\license.rtf");
    EXPECT_EQ(L"before", WindowText(viewer_));
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + L"pv_viewer.rtf";
    // ソ and 表 end in Shift-JIS trail byte 0x5C, the backslash; then an empty file.
    for (const char* content : {"{\\rtf1\\ansi\\ansicpg932\\deff0{\\fonttbl{\\f0\\fcharset128 "
                                "MS UI Gothic;}}\\f0 \\'83\\'5c\\'95\\'5c\\par}",
                                ""}) {
        FILE* file = _wfopen(path.c_str(), L"wb");
        ASSERT_NE(nullptr, file);
        fputs(content, file);
        fclose(file);
        ShowRichTextFile(viewer_, path.c_str());
        EXPECT_EQ(*content != '\0' ? 0u : std::wstring::npos, WindowText(viewer_).find(L"ソ表"));
    }
    EXPECT_EQ(L"", WindowText(viewer_));
    DeleteFileW(path.c_str());
}

TEST_F(ViewerText, WholeLogBeyondRichEditsDefaultLimitReplacesWhatWasShown) {
    SetWindowTextW(viewer_, L"ソフトウェア使用許諾契約書");
    std::wstring log = L"インストールログ\n";
    while (log.size() < 100000) {
        log += L"サービスおよびドライバーをインストールできません。\n";
    }
    ShowPlainText(viewer_, log.c_str());
    EXPECT_EQ(0u, WindowText(viewer_).find(L"インストールログ"));
    EXPECT_EQ(std::wstring::npos, WindowText(viewer_).find(L"ソフトウェア"));
    // Rich Edit reports each line feed as a paragraph end: count the lines.
    const auto lines = SendMessageW(viewer_, EM_GETLINECOUNT, 0, 0);
    EXPECT_EQ(static_cast<LRESULT>(std::count(log.begin(), log.end(), L'\n') + 1), lines);
    EXPECT_EQ(0, Selection());
}
