// Start-up timing for the benchmark build only (PORTVANE_STARTUP_TIMING): the
// milliseconds from the program's entry to the welcome page on screen, appended
// to the file named by PORTVANE_TIMING_FILE. A release build carries none of it,
// so an elevated setup never writes where its environment points.
#pragma once

#ifdef PORTVANE_STARTUP_TIMING
// First thing at the program's entry.
void MarkProgramEntry();

// When the wizard first paints; later calls do nothing.
void ReportWelcomeShown();
#else
inline void MarkProgramEntry() {}
inline void ReportWelcomeShown() {}
#endif
