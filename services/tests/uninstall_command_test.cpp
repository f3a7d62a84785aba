// The text rules of the removal, apart from the registry and the file system.
#include "services/uninstall_command.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

TEST(FolderOfPath, DropsTheFileNameOrRefusesPartsTooLongToSplit) {
    const std::wstring longFolder = L"C:\\" + std::wstring(300, L'd') + L"\\Uninst.exe";
    const std::wstring longName = L"C:\\Portvane\\" + std::wstring(300, L'n') + L".exe";
    // An empty result with true is a path without folder; false means not split at all,
    // rather than the C runtime ending the process over a part too long for its buffer.
    const std::pair<std::wstring, const wchar_t*> cases[] = {
        {L"C:\\Program Files (x86)\\ORBEK\\Portvane\\Uninst.exe",
         L"C:\\Program Files (x86)\\ORBEK\\Portvane"},
        {L"C:\\Uninst.exe", L"C:"},
        {L"\\\\server\\share\\Portvane\\Uninst.exe", L"\\\\server\\share\\Portvane"},
        {L"C:/Apps/Old/Uninst.exe", L"C:/Apps/Old"},
        {L"C:/Uninst.exe", L"C:"},
        {L"Uninst.exe", L""},
        {longFolder, nullptr},
        {longName, nullptr}};
    for (const auto& [path, expected] : cases) {
        wchar_t folder[kPathChars];
        EXPECT_EQ(expected != nullptr, FolderOfPath(path.c_str(), folder)) << path;
        EXPECT_STREQ(expected != nullptr ? expected : L"", folder) << path;
    }
}

TEST(IsRemovableFolder, AcceptsOnlyFullPathsBelowARoot) {
    for (const wchar_t* folder : {L"C:\\Program Files (x86)\\ORBEK\\Portvane", L"D:\\Portvane",
                                  L"\\\\server\\share\\Portvane", L"C:\\Apps\\.hidden", L"C:/Apps/Old"}) {
        EXPECT_TRUE(IsRemovableFolder(folder)) << folder;
    }
    const std::vector<const wchar_t*> refused[] = {
        // Drive roots, empty and relative paths.
        {L"", L"C:", L"C:\\", L"C:/", L"C:\\\\", L"Portvane", L"\\Portvane", L"C:Portvane",
         L"1:\\Portvane"},
        // Empty, "." and ".." elements, and what Windows trims to them.
        {L"C:\\..", L"C:\\Portvane\\..", L"C:\\.", L"C:\\ .", L"C:\\Portvane\\. .",
         L"C:\\Portvane\\\\x", L"C:\\Portvane\\"},
        // Share roots and device paths.
        {L"\\\\server\\share", L"\\\\server\\share\\", L"\\\\server", L"\\\\?\\C:\\Portvane",
         L"\\\\.\\C:\\Portvane"}};
    for (const auto& group : refused) {
        for (const wchar_t* folder : group) {
            EXPECT_FALSE(IsRemovableFolder(folder)) << folder;
        }
    }
}

TEST(TerminateUninstallString, TerminatesAfterTheReadButRefusesAFullBufferWithoutOne) {
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

TEST(ParseUninstallCommand, TakesExactlyThreePartsThatStayInTheirPlaces) {
    RemovalContext context;
    ASSERT_TRUE(ParseUninstallCommand(
        L"\"C:\\Program Files (x86)\\ORBEK\\Portvane\\Uninst.exe\" \"ORBEK_Portvane\" \"Portvane\"",
        &context));
    EXPECT_STREQ(L"C:\\Program Files (x86)\\ORBEK\\Portvane", context.oldInstallFolder);
    EXPECT_STREQ(L"ORBEK_Portvane", context.uninstallKeyName);
    EXPECT_STREQ(L"Portvane", context.shortcutName);
    ASSERT_TRUE(ParseUninstallCommand(L"C:/Apps/Old/Uninst.exe ORBEK_Portvane Portvane", &context));
    EXPECT_STREQ(L"C:/Apps/Old", context.oldInstallFolder);

    const std::wstring uninstaller = L"\"C:\\Portvane\\Uninst.exe\" ";
    const std::wstring fits(255, L'k');
    ASSERT_TRUE(ParseUninstallCommand(
        (uninstaller + L"\"" + fits + L"\" \"" + fits + L"\"").c_str(), &context));
    EXPECT_EQ(fits, context.uninstallKeyName);
    EXPECT_EQ(fits, context.shortcutName);

    const std::wstring tooLong(256, L'k');
    const std::wstring names = L" \"ORBEK_Portvane\" \"Portvane\"";
    const std::wstring deep = L"C:\\" + std::wstring(200, L'a') + L"\\" + std::wstring(100, L'b');
    const std::wstring refused[] = {
        // Any other number of arguments; unquoted blanks split the path itself.
        L"", L"\"C:\\Portvane\\Uninst.exe\"", uninstaller + L"\"ORBEK_Portvane\"",
        uninstaller + L"\"ORBEK_Portvane\" \"Portvane\" \"x\"",
        L"C:\\Program Files\\Portvane\\Uninst.exe ORBEK_Portvane Portvane",
        // An uninstaller in a drive or share root, without folder, or above its folder.
        L"\"C:\\Uninst.exe\"" + names, L"\"Uninst.exe\"" + names, L"\"\\Uninst.exe\"" + names,
        L"\"C:\\Portvane\\..\\Uninst.exe\"" + names, L"\"\\\\server\\share\\Uninst.exe\"" + names,
        L"C:/Uninst.exe" + names, L"Apps/Uninst.exe" + names, L"C:/Apps/../Uninst.exe" + names,
        L"//server/share/Uninst.exe" + names,
        // Names that lead outside the Uninstall key or the shortcut folders.
        uninstaller + L"\"\" \"Portvane\"", uninstaller + L"\"Other\\Sub\" \"Portvane\"",
        uninstaller + L"\"ORBEK_Portvane\" \"..\\..\\Desktop\\x\"",
        uninstaller + L"\"ORBEK_Portvane\" \"a/b\"",
        // Parts longer than their fields; a folder of 260 characters or more.
        uninstaller + L"\"" + tooLong + L"\" \"Portvane\"",
        uninstaller + L"\"ORBEK_Portvane\" \"" + tooLong + L"\"",
        L"\"" + deep + L"\\Uninst.exe\"" + names};
    for (const std::wstring& commandLine : refused) {
        EXPECT_FALSE(ParseUninstallCommand(commandLine.c_str(), &context)) << commandLine;
    }
}
