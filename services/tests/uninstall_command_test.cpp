// The text rules of the removal, apart from the registry and the file system.
#include "services/uninstall_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

std::wstring FolderOf(const wchar_t* path, bool* split = nullptr) {
    wchar_t folder[kPathChars];
    const bool result = FolderOfPath(path, folder);
    if (split != nullptr) {
        *split = result;
    }
    return folder;
}

bool Parses(const std::wstring& commandLine, RemovalContext* context) {
    return ParseUninstallCommand(commandLine.c_str(), context);
}

}  // namespace

TEST(FolderOfPath, DropsTheFileNameAndOneTrailingBackslash) {
    EXPECT_EQ(L"C:\\Program Files (x86)\\ORBEK\\Portvane",
              FolderOf(L"C:\\Program Files (x86)\\ORBEK\\Portvane\\Uninst.exe"));
    EXPECT_EQ(L"C:", FolderOf(L"C:\\Uninst.exe"));
    EXPECT_EQ(L"\\\\server\\share\\Portvane", FolderOf(L"\\\\server\\share\\Portvane\\Uninst.exe"));
    EXPECT_EQ(L"", FolderOf(L"Uninst.exe"));
}

TEST(FolderOfPath, RefusesPartsTooLongToSplitInsteadOfEndingTheProcess) {
    bool split = true;
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L'd') + L"\\Uninst.exe";
    EXPECT_EQ(L"", FolderOf(longFolder.c_str(), &split));
    EXPECT_FALSE(split);
    const std::wstring longName = L"C:\\Portvane\\" + std::wstring(300, L'n') + L".exe";
    EXPECT_EQ(L"", FolderOf(longName.c_str(), &split));
    EXPECT_FALSE(split);
}

TEST(IsRemovableFolder, AcceptsFoldersBelowARoot) {
    EXPECT_TRUE(IsRemovableFolder(L"C:\\Program Files (x86)\\ORBEK\\Portvane"));
    EXPECT_TRUE(IsRemovableFolder(L"D:\\Portvane"));
    EXPECT_TRUE(IsRemovableFolder(L"\\\\server\\share\\Portvane"));
    EXPECT_TRUE(IsRemovableFolder(L"C:\\Apps\\.hidden"));
}

TEST(IsRemovableFolder, RefusesRootsEmptyRelativeAndDottedPaths) {
    for (const wchar_t* folder : {L"",
                                  L"C:",
                                  L"C:\\",
                                  L"C:/",
                                  L"C:\\\\",
                                  L"Portvane",
                                  L"\\Portvane",
                                  L"C:Portvane",
                                  L"C:\\..",
                                  L"C:\\Portvane\\..",
                                  L"C:\\.",
                                  L"C:\\ .",
                                  L"C:\\Portvane\\. .",
                                  L"C:\\Portvane\\\\x",
                                  L"C:\\Portvane\\",
                                  L"\\\\server\\share",
                                  L"\\\\server\\share\\",
                                  L"\\\\server",
                                  L"\\\\?\\C:\\Portvane",
                                  L"\\\\.\\C:\\Portvane",
                                  L"1:\\Portvane"}) {
        EXPECT_FALSE(IsRemovableFolder(folder)) << testing::PrintToString(std::wstring(folder));
    }
}

TEST(TerminateUninstallString, RefusesAFullBufferWithoutTerminator) {
    wchar_t text[kUninstallStringChars];
    wmemset(text, L'x', kUninstallStringChars);
    EXPECT_FALSE(TerminateUninstallString(text, 2048));

    text[kUninstallStringChars - 1] = L'\0';
    EXPECT_TRUE(TerminateUninstallString(text, 2048));
    EXPECT_EQ(1023u, wcslen(text));

    wmemset(text, L'x', kUninstallStringChars);
    EXPECT_TRUE(TerminateUninstallString(text, 10));
    EXPECT_STREQ(L"xxxxx", text);
    wmemset(text, L'x', kUninstallStringChars);
    EXPECT_TRUE(TerminateUninstallString(text, 2047));
    EXPECT_EQ(1023u, wcslen(text));
}

TEST(ParseUninstallCommand, TakesTheThreeQuotedPartsOfTheEntry) {
    RemovalContext context;
    ASSERT_TRUE(Parses(
        L"\"C:\\Program Files (x86)\\ORBEK\\Portvane\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"",
        &context));
    EXPECT_STREQ(L"C:\\Program Files (x86)\\ORBEK\\Portvane", context.oldInstallFolder);
    EXPECT_STREQ(L"ORBEK_Portvane", context.uninstallKeyName);
    EXPECT_STREQ(L"Portvane", context.shortcutName);
}

TEST(ParseUninstallCommand, RefusesAnyOtherNumberOfArguments) {
    RemovalContext context;
    EXPECT_FALSE(Parses(L"", &context));
    EXPECT_FALSE(Parses(L"\"C:\\Portvane\\Uninst.exe\"", &context));
    EXPECT_FALSE(Parses(L"\"C:\\Portvane\\Uninst.exe\" \"ORBEK_Portvane\"", &context));
    EXPECT_FALSE(
        Parses(L"\"C:\\Portvane\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\" \"x\"", &context));
    // Unquoted blanks split the path itself.
    EXPECT_FALSE(
        Parses(L"C:\\Program Files\\Portvane\\Uninst.exe ORBEK_Portvane Portvane", &context));
}

TEST(ParseUninstallCommand, RefusesAnUninstallerInADriveRootOrWithoutFolder) {
    RemovalContext context;
    EXPECT_FALSE(Parses(L"\"C:\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"", &context));
    EXPECT_FALSE(Parses(L"\"Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"", &context));
    EXPECT_FALSE(Parses(L"\"\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"", &context));
    EXPECT_FALSE(
        Parses(L"\"C:\\Portvane\\..\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"", &context));
    EXPECT_FALSE(
        Parses(L"\"\\\\server\\share\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"", &context));
}

TEST(ParseUninstallCommand, RefusesNamesThatLeadOutsideTheirPlace) {
    RemovalContext context;
    EXPECT_FALSE(Parses(L"\"C:\\Portvane\\Uninst.exe\" \"\" \"Portvane\"", &context));
    EXPECT_FALSE(Parses(L"\"C:\\Portvane\\Uninst.exe\" \"Other\\Sub\" \"Portvane\"", &context));
    EXPECT_FALSE(Parses(L"\"C:\\Portvane\\Uninst.exe\" \"ORBEK_Portvane\" \"..\\..\\Desktop\\x\"",
                        &context));
    EXPECT_FALSE(Parses(L"\"C:\\Portvane\\Uninst.exe\" \"ORBEK_Portvane\" \"a/b\"", &context));
}

TEST(ParseUninstallCommand, RefusesPartsLongerThanTheirFields) {
    RemovalContext context;
    const std::wstring fits(255, L'k');
    const std::wstring tooLong(256, L'k');
    EXPECT_TRUE(
        Parses(L"\"C:\\Portvane\\Uninst.exe\" \"" + fits + L"\" \"" + fits + L"\"", &context));
    EXPECT_EQ(fits, context.uninstallKeyName);
    EXPECT_FALSE(
        Parses(L"\"C:\\Portvane\\Uninst.exe\" \"" + tooLong + L"\" \"Portvane\"", &context));
    EXPECT_FALSE(
        Parses(L"\"C:\\Portvane\\Uninst.exe\" \"ORBEK_Portvane\" \"" + tooLong + L"\"", &context));
    // A folder of 260 characters or more never reaches the removal.
    const std::wstring deep = L"C:\\" + std::wstring(200, L'a') + L"\\" + std::wstring(100, L'b');
    EXPECT_FALSE(
        Parses(L"\"" + deep + L"\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"", &context));
}
