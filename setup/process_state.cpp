#include "setup/process_state.h"

HICON g_applicationIcon = nullptr;
HBRUSH g_whiteBrush = nullptr;
HFONT g_titleFont = nullptr;
wchar_t g_captionText[kCaptionChars] = L"";
wchar_t g_stagingFolderPath[kPathChars] = L"";
wchar_t g_installFolderPath[kPathChars] = L"";
HWND g_wizardDialogWindow = nullptr;
int g_currentPage = 1;
std::atomic<UINT> g_installResultMessage{0};
