// The start-up sequence: checks, payload, wizard, clean-up.
#pragma once

#include <windows.h>

// Runs the whole program; returns the process exit code (1 when setup refuses to start).
int RunSetup(HINSTANCE instance);
