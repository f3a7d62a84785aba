// Process-wide state shared by the start-up, the wizard and the install worker.
// Written before the worker starts, or by the worker alone while it runs; the
// main thread reads the worker's values only after its synchronous result message.
#pragma once

#include <windows.h>

#include <atomic>

#include "platform/text_format.h"

constexpr size_t kCaptionChars = 64;

extern HICON g_applicationIcon;
extern HBRUSH g_whiteBrush;
extern HFONT g_titleFont;
extern wchar_t g_captionText[kCaptionChars];
extern wchar_t g_stagingFolderPath[kPathChars];
extern wchar_t g_installFolderPath[kPathChars];
extern HWND g_wizardDialogWindow;
extern int g_currentPage;

constexpr UINT kMessageInstallSucceeded = WM_APP + 1;
constexpr UINT kMessageInstallFailed = WM_APP + 2;

// The result message the install worker sends, set just before it sends it; 0
// until then. The wizard acts on no other, so a stray one changes nothing.
extern std::atomic<UINT> g_installResultMessage;

// Build constants of the product's vocabulary.
constexpr const wchar_t* kVersionWord = L"Ver.1.0.0";
constexpr const wchar_t* kMakerWord = L"ORBEK";
constexpr const wchar_t* kProductWord = L"Portvane";
constexpr const wchar_t* kUninstallKeyName = L"ORBEK_Portvane";
constexpr const wchar_t* kUninstallRootKey =
    L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
