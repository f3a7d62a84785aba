#include "wizard/viewer_text.h"

#include <gtest/gtest.h>
#include <richedit.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "platform/scoped_handle.h"
#include "platform/system_library.h"

namespace {

std::wstring BuildDir() {
    wchar_t folder[MAX_PATH] = L"";
    GetEnvironmentVariableW(L"PORTVANE_BUILD_DIR", folder, MAX_PATH);
    return folder;
}

std::wstring TempFile(const wchar_t* name, const char* content) {
    wchar_t folder[MAX_PATH];
    GetTempPathW(MAX_PATH, folder);
    const std::wstring path = std::wstring(folder) + name;
    FILE* file = _wfopen(path.c_str(), L"wb");
    if (file != nullptr) {
        fputs(content, file);
        fclose(file);
    }
    return path;
}

class ViewerText : public testing::Test {
  protected:
    static void SetUpTestSuite() { richEdit_ = LoadSystemLibrary(L"Riched20.dll"); }
    static void TearDownTestSuite() { FreeLibrary(richEdit_); }

    void SetUp() override {
        ASSERT_NE(nullptr, richEdit_);
        // The wizard's viewer: read-only, multi-line, scrollable.
        viewer_ = CreateWindowExW(
            0, L"RichEdit20W", L"",
            WS_POPUP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN, 0, 0,
            400, 200, nullptr, nullptr, nullptr, nullptr);
        ASSERT_NE(nullptr, viewer_);
    }
    void TearDown() override { DestroyWindow(viewer_); }

    std::wstring Text() const {
        std::wstring text(static_cast<size_t>(GetWindowTextLengthW(viewer_)) + 1, L'\0');
        text.resize(
            static_cast<size_t>(GetWindowTextW(viewer_, &text[0], static_cast<int>(text.size()))));
        return text;
    }
    DWORD SelectionStart() const {
        DWORD start = 1;
        DWORD end = 1;
        SendMessageW(viewer_, EM_GETSEL, reinterpret_cast<WPARAM>(&start),
                     reinterpret_cast<LPARAM>(&end));
        return start + end;
    }

    static HMODULE richEdit_;
    HWND viewer_ = nullptr;
};

HMODULE ViewerText::richEdit_ = nullptr;

}  // namespace

TEST_F(ViewerText, LicenceShowsAsFormattedJapaneseTextNotAsRtfSource) {
    ShowRichTextFile(viewer_, (BuildDir() + L"\\payload-files\\License.rtf").c_str());
    const std::wstring text = Text();
    EXPECT_EQ(0u, text.find(L"Portvane ソフトウェア使用許諾契約書")) << text.substr(0, 40);
    EXPECT_NE(std::wstring::npos, text.find(L"ORBEK"));
    EXPECT_EQ(std::wstring::npos, text.find(L"{\\rtf"));
    EXPECT_EQ(std::wstring::npos, text.find(L"\\'"));
    EXPECT_EQ(0u, SelectionStart());
    CHARFORMAT2W format = {};
    format.cbSize = sizeof(format);
    format.dwMask = CFM_BOLD;
    SendMessageW(viewer_, EM_SETSEL, 0, 1);
    SendMessageW(viewer_, EM_GETCHARFORMAT, SCF_SELECTION, reinterpret_cast<LPARAM>(&format));
    EXPECT_TRUE(format.dwEffects & CFE_BOLD) << "the title is bold";
}

TEST_F(ViewerText, EscapedShiftJisTrailBackslashDecodes) {
    const std::wstring path =
        TempFile(L"pv_viewer_trail.rtf",
                 "{\\rtf1\\ansi\\ansicpg932\\deff0{\\fonttbl{\\f0\\fcharset128 MS UI Gothic;}}"
                 "\\f0 \\'83\\'5c\\'95\\'5c\\par}");
    ShowRichTextFile(viewer_, path.c_str());
    EXPECT_EQ(0u, Text().find(L"ソ表"));
    DeleteFileW(path.c_str());
}

TEST_F(ViewerText, EmptyFileEmptiesTheViewerAndMissingFileLeavesItAlone) {
    SetWindowTextW(viewer_, L"before");
    ShowRichTextFile(viewer_, L"C:\\no such folder\\license.rtf");
    EXPECT_EQ(L"before", Text());
    const std::wstring path = TempFile(L"pv_viewer_empty.rtf", "");
    ShowRichTextFile(viewer_, path.c_str());
    EXPECT_EQ(L"", Text());
    DeleteFileW(path.c_str());
}

TEST_F(ViewerText, PlainTextReplacesTheLicenceAndShowsItsBeginning) {
    ShowRichTextFile(viewer_, (BuildDir() + L"\\payload-files\\License.rtf").c_str());
    ShowPlainText(viewer_, L"インストールログ\nOS Version: Major 6 Minor 1\n");
    EXPECT_EQ(0u, Text().find(L"インストールログ"));
    EXPECT_EQ(std::wstring::npos, Text().find(L"ソフトウェア"));
    EXPECT_EQ(0u, SelectionStart());
}

TEST_F(ViewerText, WholeLogBeyondRichEditsDefaultLimitIsShown) {
    std::wstring log;
    while (log.size() < 100000) {
        log += L"サービスおよびドライバーをインストールできません。\n";
    }
    ShowPlainText(viewer_, log.c_str());
    // Rich Edit reports each line feed as a paragraph end: count the lines.
    const auto lines = SendMessageW(viewer_, EM_GETLINECOUNT, 0, 0);
    EXPECT_EQ(static_cast<LRESULT>(std::count(log.begin(), log.end(), L'\n') + 1), lines);
    EXPECT_EQ(0u, SelectionStart());
}
