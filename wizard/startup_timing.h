// Start-up timing for the benchmark. Only when the environment variable
// PORTVANE_TIMING_FILE names a file is anything written: one line with the
// milliseconds from the program's entry to the welcome page on screen.
#pragma once

// First thing at the program's entry.
void MarkProgramEntry();

// When the wizard first paints; later calls do nothing.
void ReportWelcomeShown();
