// Opens the built Portvane_Setup.exe as a data file and checks its resources
// against what the wizard, the message boxes and Windows expect of them.
#include <windows.h>

#include <gtest/gtest.h>
#include <commctrl.h>
#include <imagehlp.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "setup/resource_ids.h"
#include "tests/dialog_template.h"
#include "testbed/driver.h"

namespace {

constexpr WORD kJapanese = MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT);

class BuiltExe : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        module_ = LoadLibraryExW(BuildPath(L"Portvane_Setup.exe").c_str(), nullptr,
                                 LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    }
    static void TearDownTestSuite() { FreeLibrary(module_); }

    void SetUp() override { ASSERT_NE(nullptr, module_) << "cannot open the built exe"; }

    // The raw bytes of a Japanese resource, or an empty string.
    static std::string Resource(const wchar_t* type, const wchar_t* name) {
        HRSRC found = FindResourceExW(module_, type, name, kJapanese);
        if (found == nullptr) {
            return {};
        }
        const BYTE* data = static_cast<const BYTE*>(LockResource(LoadResource(module_, found)));
        return std::string(reinterpret_cast<const char*>(data), SizeofResource(module_, found));
    }

    // Strings are stored sixteen to a block, each prefixed by its length.
    static bool JapaneseString(UINT id, std::wstring* text) {
        const std::string block = Resource(RT_STRING, MAKEINTRESOURCEW(id / 16 + 1));
        const wchar_t* cursor = reinterpret_cast<const wchar_t*>(block.data());
        if (block.empty()) {
            return false;
        }
        for (UINT index = 0; index < id % 16; ++index) {
            cursor += 1 + *cursor;
        }
        text->assign(cursor + 1, *cursor);
        return *cursor != 0;
    }

    static HMODULE module_;
};

HMODULE BuiltExe::module_ = nullptr;

struct ExpectedString {
    UINT id;
    const wchar_t* text;
};

const ExpectedString kStrings[] = {
    {103, L"Portvane"},
    {104, L"インストールできません。"},
    {105, L"閉じる(&C)"},
    {107, L"%s セットアップ ウィザードへようこそ"},
    {109, L"ライセンス条項"},
    {110, L"ライセンス条項をお読みください。以下の条件に同意される場合は[同意する]をクリックしてから[次へ]をクリックして下さい。その他の場合は[キャンセル]をクリックしてください。"},
    {111, L"インストールの確認"},
    {112, L"%s をインストールする準備ができました。\n\n\n[次へ]をクリックしてインストールを開始して下さい。"},
    {113, L"%s をインストールしています。"},
    {114, L"しばらくお待ちください..."},
    {115, L"インストールが完了しました。"},
    {116, L"%s は正しくインストールされました。\n\n終了するには、[閉じる]をクリックして下さい。"},
    {117, L"インストールが失敗しました。"},
    {118, L"%s のインストール中にエラーが発生しました。\n\n終了するには、[閉じる]をクリックして下さい。"},
    {119, L"起動中です。インストールできません。"},
    {122, L"%s を起動する"},
    {123, L"クリップボードへコピーしました。"},
    {124, L"クリップボードへのコピーに失敗しました。"},
    {129, L"このアプリケーションを実行するには、.NET Framework 4.0以上をインストールする必要があります。"},
    {130, L"インストール中です。完了するまでお待ちください。"},
    {131, L"インストールログ"},
};

}  // namespace

TEST_F(BuiltExe, StringTableHoldsEveryTextExactlyInJapanese) {
    for (const ExpectedString& expected : kStrings) {
        std::wstring text;
        ASSERT_TRUE(JapaneseString(expected.id, &text)) << "string " << expected.id;
        EXPECT_EQ(std::wstring(expected.text), text) << "string " << expected.id;
    }
}

TEST_F(BuiltExe, WelcomeTextTakesTheCaptionThenEightLineFeedsThenTheNotice) {
    std::wstring text;
    ASSERT_TRUE(JapaneseString(108, &text));
    EXPECT_EQ(0u, text.find(L"%s "));
    EXPECT_EQ(std::wstring::npos, text.find(L"%s", 1)) << "exactly one argument";
    const size_t feeds = text.find(L'\n');
    ASSERT_NE(std::wstring::npos, feeds);
    EXPECT_EQ(text.find_first_not_of(L'\n', feeds), feeds + 8);
    EXPECT_EQ(std::wstring::npos, text.find(L'\n', feeds + 8));
    EXPECT_NE(std::wstring::npos, text.find(L"著作権", feeds));
}

namespace {

struct ExpectedControl {
    LONG id;
    const wchar_t* className;
    const wchar_t* text;
    DWORD style;  // besides WS_CHILD
    DWORD exStyle;
    short x, y, cx, cy;
};

constexpr LONG kNoId = -1;

const ExpectedControl kControls[] = {
    {1006, L"Button", L"同意しない(&D)", WS_GROUP | BS_AUTORADIOBUTTON, 0, 11, 177, 66, 10},
    {1007, L"Button", L"同意する(&A)", BS_AUTORADIOBUTTON, 0, 85, 177, 60, 10},
    {IDCANCEL, L"Button", L"キャンセル", WS_VISIBLE | WS_GROUP | WS_TABSTOP | BS_PUSHBUTTON, 0, 67, 198,
     58, 16},
    {1003, L"Button", L"< 戻る(&B)", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER, 0, 136, 198,
     58, 16},
    {1004, L"Button", L"次へ(&N) >", WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER, 0, 203, 198,
     58, 16},
    {kNoId, L"Static", L"", WS_VISIBLE | SS_ETCHEDHORZ, 0, 0, 192, 272, 1},
    {kNoId, L"Static", L"", WS_VISIBLE | SS_WHITERECT, 0, 0, 0, 270, 39},
    {1001, L"Static", L"Title", WS_VISIBLE | WS_GROUP | SS_LEFT, 0, 9, 6, 221, 29},
    {1002, L"Static", L"message", WS_VISIBLE | WS_GROUP | SS_LEFT, 0, 9, 44, 253, 132},
    {kNoId, L"Static", L"", WS_VISIBLE | SS_ETCHEDHORZ, 0, 0, 39, 272, 1},
    {1008, L"Static", L"message", WS_VISIBLE | WS_GROUP | SS_LEFT, 0, 9, 45, 249, 26},
    {1005, L"RichEdit20W", L"",
     WS_VISIBLE | WS_TABSTOP | WS_BORDER | WS_VSCROLL | ES_MULTILINE | ES_READONLY | ES_WANTRETURN, 0,
     6, 72, 257, 101},
    // Its bitmap is given at run time: as the text, it would be its name for screen readers.
    {1013, L"Static", L"", WS_VISIBLE | SS_BITMAP, WS_EX_TRANSPARENT, 239, 6, 48, 48},
    {1009, L"Button", L"Launch Check", WS_TABSTOP | BS_AUTOCHECKBOX, 0, 9, 83, 253, 10},
    {1010, L"Button", L"スタートメニューに追加する ", WS_TABSTOP | BS_AUTOCHECKBOX, 0, 9, 83, 253, 10},
    {1011, L"Button", L"デスクトップにショートカットを作成する ", WS_TABSTOP | BS_AUTOCHECKBOX, 0, 9, 94,
     253, 10},
    {1012, L"Button", L"エラーの内容をクリップボードへコピーする",
     WS_TABSTOP | BS_PUSHBUTTON | BS_CENTER, 0, 6, 175, 180, 16},
};

#pragma pack(push, 2)
struct IconGroupEntry {
    BYTE width, height, colorCount, reserved;
    WORD planes, bitCount;
    DWORD bytesInResource;
    WORD id;
};
#pragma pack(pop)

}  // namespace

TEST_F(BuiltExe, WizardTemplateHasItsFrameAndSeventeenControlsInTabOrder) {
    const std::string bytes = Resource(RT_DIALOG, MAKEINTRESOURCEW(101));
    DialogTemplate dialog;
    ASSERT_TRUE(ParseDialogTemplate(reinterpret_cast<const BYTE*>(bytes.data()), bytes.size(),
                                    &dialog));
    EXPECT_EQ(static_cast<DWORD>(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT |
                                 DS_FIXEDSYS),
              dialog.style);
    EXPECT_EQ(static_cast<DWORD>(WS_EX_TRANSPARENT), dialog.exStyle);
    EXPECT_EQ(0u, dialog.helpId);
    EXPECT_EQ(0, dialog.x);
    EXPECT_EQ(0, dialog.y);
    EXPECT_EQ(271, dialog.cx);
    EXPECT_EQ(220, dialog.cy);
    EXPECT_EQ(L"Title", dialog.caption);
    EXPECT_EQ(L"", dialog.menu);
    EXPECT_EQ(L"", dialog.className);
    EXPECT_EQ(L"MS Shell Dlg", dialog.fontFace);
    EXPECT_EQ(9, dialog.pointSize);
    EXPECT_EQ(400, dialog.weight);
    EXPECT_EQ(0, dialog.italic);
    EXPECT_EQ(1, dialog.charset);

    ASSERT_EQ(std::size(kControls), dialog.items.size());
    for (size_t i = 0; i < std::size(kControls); ++i) {
        const ExpectedControl& want = kControls[i];
        const DialogItem& item = dialog.items[i];
        SCOPED_TRACE("control #" + std::to_string(i + 1));
        EXPECT_EQ(want.id, item.id);
        // Window class names are matched without regard to case.
        EXPECT_EQ(0, _wcsicmp(want.className, item.className.c_str())) << item.className.size();
        EXPECT_EQ(want.text, item.text);
        EXPECT_EQ(want.style | WS_CHILD, item.style);
        EXPECT_EQ(want.exStyle, item.exStyle);
        EXPECT_EQ(0u, item.helpId);
        EXPECT_EQ(want.x, item.x);
        EXPECT_EQ(want.y, item.y);
        EXPECT_EQ(want.cx, item.cx);
        EXPECT_EQ(want.cy, item.cy);
    }
}

namespace {

// What the pages put into the template's controls, "%s" filled as they fill it.
const std::pair<int, UINT> kPageTexts[] = {
    {1001, 107}, {1001, 109}, {1001, 111}, {1001, 113}, {1001, 115}, {1001, 117}, {1002, 108},
    {1002, 112}, {1002, 114}, {1002, 116}, {1002, 118}, {1008, 110}, {1004, 105}, {1009, 122},
};

// A button's own ideal size, or the text wrapped as a static wraps it, must
// fit the control.
void ExpectTextFits(HWND control) {
    RECT client;
    GetClientRect(control, &client);
    RECT text = {0, 0, client.right, 0};
    SIZE needed = {};
    if (!SendMessageW(control, BCM_GETIDEALSIZE, 0, reinterpret_cast<LPARAM>(&needed))) {
        HDC dc = GetDC(control);
        SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(control, WM_GETFONT, 0, 0)));
        DrawTextW(dc, WindowText(control).c_str(), -1, &text,
                  DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS);
        ReleaseDC(control, dc);
        needed = {text.right, text.bottom};
    }
    EXPECT_TRUE(needed.cx <= client.right && needed.cy <= client.bottom)
        << GetDlgCtrlID(control) << " needs " << needed.cx << "x" << needed.cy << " px, has "
        << client.right << "x" << client.bottom;
}

INT_PTR CALLBACK NoDialogProc(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

}  // namespace

// At this process's DPI, with the fonts the dialog manager and the title make
// from the template, and the common controls the setup's manifest binds.
TEST_F(BuiltExe, EveryLabelShowsItsWholeTextInItsControl) {
    const std::wstring exe = BuildPath(L"Portvane_Setup.exe");
    ACTCTXW manifest = {};
    manifest.cbSize = sizeof(manifest);
    manifest.dwFlags = ACTCTX_FLAG_RESOURCE_NAME_VALID;
    manifest.lpSource = exe.c_str();
    manifest.lpResourceName = MAKEINTRESOURCEW(1);
    ULONG_PTR cookie = 0;
    ASSERT_TRUE(ActivateActCtx(CreateActCtxW(&manifest), &cookie));
    LoadLibraryW(L"Riched20.dll");
    const std::string bytes = Resource(RT_DIALOG, MAKEINTRESOURCEW(101));
    HWND dialog = CreateDialogIndirectParamW(
        module_, reinterpret_cast<const DLGTEMPLATE*>(bytes.data()), nullptr, NoDialogProc, 0);
    ASSERT_NE(nullptr, dialog);
    LOGFONTW font = {};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof(font),
               &font);
    font.lfWeight = FW_BOLD;
    font.lfHeight = font.lfHeight * 14 / 10;
    HFONT titleFont = CreateFontIndirectW(&font);
    SendDlgItemMessageW(dialog, 1001, WM_SETFONT, reinterpret_cast<WPARAM>(titleFont), 0);
    for (HWND control = GetWindow(dialog, GW_CHILD); control != nullptr;
         control = GetWindow(control, GW_HWNDNEXT)) {
        if (!WindowText(control).empty()) {
            ExpectTextFits(control);
        }
    }
    for (const auto& [control, stringId] : kPageTexts) {
        std::wstring text;
        ASSERT_TRUE(JapaneseString(stringId, &text));
        if (const size_t argument = text.find(L"%s"); argument != std::wstring::npos) {
            text.replace(argument, 2, stringId == 122 ? L"Portvane" : L"Portvane Ver.1.0.0");
        }
        SetDlgItemTextW(dialog, control, text.c_str());
        ExpectTextFits(GetDlgItem(dialog, control));
    }
    DestroyWindow(dialog);
    DeleteObject(titleFont);
}

// Wine reads the DPI when a process starts: each is a run of its own.
TEST_F(BuiltExe, EveryLabelShowsItsWholeTextAt144And192Dpi) {
    wchar_t self[MAX_PATH];
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    for (const DWORD dpi : {144, 192}) {
        SetLogPixels(dpi);
        const SetupProcess run =
            LaunchProgram(self, L"--gtest_filter=BuiltExe.EveryLabelShowsItsWholeTextInItsControl");
        SetLogPixels(96);
        EXPECT_EQ(0u, WaitForExit(run, 60000)) << dpi << " DPI";
    }
}

TEST_F(BuiltExe, IconGroupHasNineImagesAtThreeSizesAndThreeDepths) {
    const std::string group = Resource(RT_GROUP_ICON, MAKEINTRESOURCEW(102));
    ASSERT_GE(group.size(), 6u);
    const WORD count = *reinterpret_cast<const WORD*>(group.data() + 4);
    ASSERT_EQ(9, count);
    ASSERT_EQ(6u + 9 * sizeof(IconGroupEntry), group.size());
    int seen[3][3] = {};
    for (WORD i = 0; i < count; ++i) {
        IconGroupEntry entry;
        memcpy(&entry, group.data() + 6 + i * sizeof(IconGroupEntry), sizeof(entry));
        const std::string image = Resource(RT_ICON, MAKEINTRESOURCEW(entry.id));
        ASSERT_GE(image.size(), sizeof(BITMAPINFOHEADER));
        BITMAPINFOHEADER header;
        memcpy(&header, image.data(), sizeof(header));
        EXPECT_EQ(entry.width, header.biWidth);
        EXPECT_EQ(2 * header.biWidth, header.biHeight) << "XOR and AND masks";
        EXPECT_EQ(entry.bitCount, header.biBitCount);
        const int size = header.biWidth == 48 ? 0 : header.biWidth == 32 ? 1 : header.biWidth == 16 ? 2 : -1;
        const int depth = header.biBitCount == 4 ? 0 : header.biBitCount == 8 ? 1 : header.biBitCount == 32 ? 2 : -1;
        ASSERT_GE(size, 0);
        ASSERT_GE(depth, 0);
        ++seen[size][depth];
    }
    for (auto& sizes : seen) {
        for (int n : sizes) {
            EXPECT_EQ(1, n);
        }
    }
}

TEST_F(BuiltExe, HeaderBitmapIs48By48At32BitsUncompressed) {
    const std::string bitmap = Resource(RT_BITMAP, MAKEINTRESOURCEW(119));
    ASSERT_GE(bitmap.size(), sizeof(BITMAPINFOHEADER));
    BITMAPINFOHEADER header;
    memcpy(&header, bitmap.data(), sizeof(header));
    EXPECT_EQ(48, header.biWidth);
    EXPECT_EQ(48, abs(header.biHeight));
    EXPECT_EQ(32, header.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), header.biCompression);
    EXPECT_EQ(sizeof(BITMAPINFOHEADER) + 48 * 48 * 4, bitmap.size());
}

TEST_F(BuiltExe, VersionResourceNamesTheSetup) {
    DWORD ignored = 0;
    const std::wstring path = BuildPath(L"Portvane_Setup.exe");
    std::string info(GetFileVersionInfoSizeW(path.c_str(), &ignored), '\0');
    ASSERT_FALSE(info.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(info.size()), &info[0]));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(MAKELONG(0, 1), fixed->dwFileVersionMS);
    EXPECT_EQ(MAKELONG(1, 0), fixed->dwFileVersionLS);
    EXPECT_EQ(fixed->dwFileVersionMS, fixed->dwProductVersionMS);
    EXPECT_EQ(fixed->dwFileVersionLS, fixed->dwProductVersionLS);
    const std::pair<const wchar_t*, const wchar_t*> values[] = {
        {L"FileVersion", L"1.0.0.1"},          {L"ProductVersion", L"1.0.0.1"},
        {L"FileDescription", L"Portvane_Setup"}, {L"InternalName", L"Portvane_Setup.exe"},
        {L"OriginalFilename", L"Portvane_Setup.exe"}, {L"ProductName", L"Portvane"},
        {L"CompanyName", L"ORBEK"},
    };
    for (const auto& [name, want] : values) {
        wchar_t* text = nullptr;
        const std::wstring query = std::wstring(L"\\StringFileInfo\\041104b0\\") + name;
        ASSERT_TRUE(VerQueryValueW(info.data(), query.c_str(), reinterpret_cast<void**>(&text),
                                   &length))
            << "missing " << std::string(name, name + wcslen(name));
        EXPECT_STREQ(want, text);
    }
}

TEST_F(BuiltExe, ManifestAsksForAdministratorDpiAwarenessAndCommonControls6) {
    HRSRC found = FindResourceW(module_, MAKEINTRESOURCEW(1), RT_MANIFEST);
    ASSERT_NE(nullptr, found);
    const char* data = static_cast<const char*>(LockResource(LoadResource(module_, found)));
    const std::string manifest(data, SizeofResource(module_, found));
    EXPECT_NE(std::string::npos, manifest.find("level=\"requireAdministrator\""));
    EXPECT_NE(std::string::npos, manifest.find("uiAccess=\"false\""));
    EXPECT_NE(std::string::npos, manifest.find(">true</dpiAware>"));
    EXPECT_NE(std::string::npos, manifest.find("name=\"Microsoft.Windows.Common-Controls\""));
    EXPECT_NE(std::string::npos, manifest.find("version=\"6.0.0.0\""));
    EXPECT_EQ(std::string::npos, manifest.find("supportedOS"))
        << "an OS list would change the version the program reports";
}

TEST_F(BuiltExe, HeaderAsksForThePageFileOffAStickOrAShareAndIsTerminalServerAware) {
    // The services it starts block USB storage: pages not yet read could no
    // longer come from the stick the setup was started from. Unmarked, on a
    // Remote Desktop Session Host it would run under legacy compatibility.
    std::ifstream file(std::filesystem::path(BuildPath(L"Portvane_Setup.exe")), std::ios::binary);
    std::string image{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    DWORD headerSum = 0;
    DWORD computedSum = 0;
    const IMAGE_NT_HEADERS* headers = CheckSumMappedFile(
        image.data(), static_cast<DWORD>(image.size()), &headerSum, &computedSum);
    ASSERT_NE(nullptr, headers);
    const WORD fromSwap = IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP | IMAGE_FILE_NET_RUN_FROM_SWAP;
    EXPECT_EQ(fromSwap, headers->FileHeader.Characteristics & fromSwap);
    EXPECT_NE(0, headers->OptionalHeader.DllCharacteristics &
                     IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE);
    if (headerSum != 0) {
        EXPECT_EQ(computedSum, headerSum) << "the bits were set after the checksum";
    }
}

namespace {

// A module it misses would count against the limit, never for it.
BOOL CALLBACK AddModuleSize(HMODULE module, LPCWSTR type, LPWSTR name, LONG_PTR total) {
    *reinterpret_cast<unsigned long*>(total) +=
        SizeofResource(module, FindResourceExW(module, type, name, kJapanese));
    return TRUE;
}

}  // namespace

// Counted as the benchmark counts it, so that a grown program fails here and
// does not wait for a benchmark. The link map beside the exe says what each
// library member was brought in for.
TEST_F(BuiltExe, WithoutItsPayloadFitsIn256KiB) {
    unsigned long payload = 0;
    ASSERT_TRUE(EnumResourceNamesW(module_, L"MODULE", AddModuleSize,
                                   reinterpret_cast<LONG_PTR>(&payload)));
    payload += Resource(RT_RCDATA, MAKEINTRESOURCEW(IDR_MODULE_DIGESTS)).size();
    const auto size =
        static_cast<unsigned long>(std::filesystem::file_size(BuildPath(L"Portvane_Setup.exe")));
    const unsigned long limit = 256 * 1024;
    std::printf("exe without payload: %lu bytes = %lu less %lu of payload; limit %lu bytes\n",
                size - payload, size, payload, limit);
    EXPECT_LE(size - payload, limit) << "see Portvane_Setup.map in the build folder";
}
