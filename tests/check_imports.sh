#!/usr/bin/env bash
# The setup is usually started from a Downloads folder: every DLL it imports
# statically must be one Windows never looks for beside the exe (KnownDLLs),
# or comctl32, which the manifest binds from the side-by-side store.
set -euo pipefail
exe="$1"
allowed=" advapi32.dll comdlg32.dll gdi32.dll imm32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll shell32.dll shlwapi.dll user32.dll comctl32.dll "
status=0
for dll in $(i686-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print tolower($3)}'); do
    if [[ "$allowed" != *" $dll "* ]]; then
        echo "imports $dll, which Windows may load from the exe's own folder"
        status=1
    fi
done
exit $status
