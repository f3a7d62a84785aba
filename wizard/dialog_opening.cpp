#include "wizard/dialog_opening.h"

#include <uxtheme.h>

#include "platform/scoped_handle.h"
#include "platform/system_info.h"
#include "platform/system_library.h"
#include "platform/text_format.h"
#include "setup/process_state.h"
#include "setup/resource_ids.h"
#include "wizard/accessibility.h"
#include "wizard/page_switch.h"
#include "wizard/viewer_text.h"

namespace {

// Looked up at run time: systems before 5.1 have no UxTheme to load. The
// wizard opens once, so nothing is kept for a second call.
void EnableThemedTexture(HWND dialog) {
    using EnableTextureFunction = HRESULT(WINAPI*)(HWND, DWORD);
    const ScopedModule uxTheme(LoadSystemLibrary(L"uxtheme.dll"));
    if (!uxTheme) {
        return;
    }
    const auto enableTexture = reinterpret_cast<EnableTextureFunction>(
        reinterpret_cast<void*>(GetProcAddress(uxTheme.get(), "EnableThemeDialogTexture")));
    if (enableTexture != nullptr) {
        enableTexture(dialog, ETDT_ENABLETAB);
    }
}

void CentreDialog(HWND dialog) {
    HWND reference = GetParent(dialog);
    if (reference == nullptr) {
        reference = GetDesktopWindow();
    }
    RECT referenceRect = {};
    RECT dialogRect = {};
    RECT screenRect = {};
    GetWindowRect(reference, &referenceRect);
    GetWindowRect(dialog, &dialogRect);
    GetWindowRect(GetDesktopWindow(), &screenRect);
    const RECT placed = CentredDialogRect(referenceRect, dialogRect, screenRect);
    SetWindowPos(dialog, HWND_TOP, placed.left, placed.top, 0, 0, SWP_NOSIZE);
}

void SetIcons(HWND dialog) {
    const LPARAM icon = reinterpret_cast<LPARAM>(g_applicationIcon);
    SendMessageW(dialog, WM_SETICON, ICON_BIG, icon);
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, icon);
}

void CreateTitleFont(HWND dialog) {
    const auto dialogFont = reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0));
    LOGFONTW font = {};
    GetObjectW(dialogFont, sizeof(font), &font);
    font.lfWeight = FW_BOLD;
    font.lfHeight = TitleFontHeight(font.lfHeight);
    g_titleFont = CreateFontIndirectW(&font);
    SendDlgItemMessageW(dialog, IDC_PAGE_TITLE, WM_SETFONT, reinterpret_cast<WPARAM>(g_titleFont),
                        0);
}

// Given here rather than in the template, where the bitmap's ordinal would be
// the control's text and so its name for screen readers. The control draws a
// bitmap with alpha from a copy of its own; either is handed back at the end.
void ShowHeaderPicture(HWND dialog) {
    const auto picture = static_cast<HBITMAP>(LoadImageW(GetModuleHandleW(nullptr),
                                                         MAKEINTRESOURCEW(IDB_HEADER_PICTURE),
                                                         IMAGE_BITMAP, 0, 0, LR_DEFAULTCOLOR));
    HWND control = GetDlgItem(dialog, IDC_HEADER_PICTURE);
    SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
    if (reinterpret_cast<HBITMAP>(SendMessageW(control, STM_GETIMAGE, IMAGE_BITMAP, 0)) != picture) {
        DeleteObject(picture);
    }
}

void LoadLicence(HWND dialog) {
    // The staging copy is "License.rtf"; file names match without regard to case.
    wchar_t path[kPathChars];
    if (JoinPath(path, g_stagingFolderPath, L"license.rtf")) {
        ShowRichTextFile(GetDlgItem(dialog, IDC_VIEWER), path);
    }
}

}  // namespace

void OpenWizardDialog(HWND dialog) {
    const OsVersion version = QueryOsVersion();
    if (IsThemedDialogVersion(version.major, version.minor)) {
        EnableThemedTexture(dialog);
    }
    CentreDialog(dialog);
    SetIcons(dialog);
    SetWindowTextW(dialog, g_captionText);
    CreateTitleFont(dialog);
    ShowHeaderPicture(dialog);
    MarkPageTextsLive(dialog);
    SwitchToPage(dialog, kWelcomePage);
    LoadLicence(dialog);
    for (const int box : {IDC_DISAGREE, IDC_START_MENU_CHECK, IDC_DESKTOP_CHECK}) {
        SendDlgItemMessageW(dialog, box, BM_SETCHECK, BST_CHECKED, 0);
    }
    g_wizardDialogWindow = dialog;
}

void CloseWizardDialog(HWND dialog) {
    ClearAnnotations(dialog);
    DeleteObject(reinterpret_cast<HGDIOBJ>(
        SendDlgItemMessageW(dialog, IDC_HEADER_PICTURE, STM_SETIMAGE, IMAGE_BITMAP, 0)));
}

INT_PTR TitleColourBrush(HWND dialog, HWND control, HDC dc) {
    if (control != GetDlgItem(dialog, IDC_PAGE_TITLE)) {
        return 0;
    }
    // In high contrast a white box with black text would ignore the user's
    // colours: the title takes the system's window text and background.
    HIGHCONTRASTW contrast = {};
    contrast.cbSize = sizeof(contrast);
    if (SystemParametersInfoW(SPI_GETHIGHCONTRAST, sizeof(contrast), &contrast, 0) &&
        (contrast.dwFlags & HCF_HIGHCONTRASTON) != 0) {
        SetTextColor(dc, GetSysColor(COLOR_WINDOWTEXT));
        SetBkColor(dc, GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<INT_PTR>(GetSysColorBrush(COLOR_WINDOW));
    }
    return reinterpret_cast<INT_PTR>(g_whiteBrush);
}

RECT CentredDialogRect(const RECT& reference, const RECT& dialog, const RECT& screen) {
    RECT placed = dialog;
    const LONG width = dialog.right - dialog.left;
    const LONG height = dialog.bottom - dialog.top;
    OffsetRect(&placed,
               (reference.right - reference.left - width) / 2 - dialog.left + reference.left,
               (reference.bottom - reference.top - height) / 2 - dialog.top + reference.top);
    // Right and bottom first, so a dialog larger than the screen keeps its top-left corner on it.
    if (placed.right > screen.right) {
        OffsetRect(&placed, screen.right - placed.right, 0);
    }
    if (placed.bottom > screen.bottom) {
        OffsetRect(&placed, 0, screen.bottom - placed.bottom);
    }
    if (placed.left < screen.left) {
        OffsetRect(&placed, screen.left - placed.left, 0);
    }
    if (placed.top < screen.top) {
        OffsetRect(&placed, 0, screen.top - placed.top);
    }
    return placed;
}

LONG TitleFontHeight(LONG dialogFontHeight) {
    return dialogFontHeight * 14 / 10;
}

bool IsThemedDialogVersion(unsigned long major, unsigned long minor) {
    return major > 5 || (major == 5 && minor >= 1);
}
