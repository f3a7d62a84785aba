// Stateless questions about the computer: OS version, processor, .NET Framework.
// Every call asks the system afresh.
#pragma once

struct OsVersion {
    unsigned long major;
    unsigned long minor;
};

// GetVersionExW as the program sees it (no supportedOS list, so 8.1+ report 6.2).
OsVersion QueryOsVersion();

bool IsWindows2000();
bool IsX86();
bool IsX64();

// 0 neither x86 nor x64, 1 x86, 2 x64.
int ProcessorKind();

// True when a table row wanting `wantedKind` (0 = any) applies here.
bool ProcessorMatch(int wantedKind);

// .NET Framework 4.5 or later ("Release" >= 378389), or the 4 Client profile.
bool IsDotNet4Installed();
