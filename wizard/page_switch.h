// The six wizard pages: which texts, states and visibility each one sets up.
#pragma once

#include <windows.h>

constexpr int kWelcomePage = 1;
constexpr int kLicencePage = 2;
constexpr int kConfirmationPage = 3;
constexpr int kProgressPage = 4;
constexpr int kCompletionPage = 5;
constexpr int kFailurePage = 6;

// Sets up the controls for `page` and announces it to screen readers; a number
// outside 1..6 does nothing. The current page number is the caller's to set.
void SwitchToPage(HWND dialog, int page);
