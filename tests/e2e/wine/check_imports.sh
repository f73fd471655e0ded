#!/usr/bin/env bash
# Fails when a Windows executable imports a DLL that Windows might load from beside the
# program. The loader resolves imports before the program's first line runs, searching
# the program's own folder (a Downloads folder) first for any DLL that is not one of
# the system's KnownDLLs, so a file of that name there would be loaded instead. A DLL
# not on this list must be loaded at run time by its full path, as version.dll is.
#
#   check_imports.sh <exe>...      (OBJDUMP names the objdump, default the MinGW one)
set -euo pipefail

objdump=${OBJDUMP:-x86_64-w64-mingw32-objdump}
# KnownDLLs of Windows 7 and later, which come from the system folder whatever lies
# beside the program; and comctl32, which the manifest's dependency on Common Controls 6
# takes from the side-by-side store before any folder is searched.
allowed=" advapi32.dll comctl32.dll gdi32.dll kernel32.dll msvcrt.dll ole32.dll oleaut32.dll setupapi.dll shell32.dll user32.dll "

status=0
for exe in "$@"; do
    if ! imports=$("$objdump" -p "$exe" | sed -n 's/^[[:space:]]*DLL Name: *//p' | tr -d '\r'); then
        echo "check_imports: cannot read $exe" >&2
        status=1
        continue
    fi
    if [ -z "$imports" ]; then
        echo "check_imports: $exe lists no imports" >&2
        status=1
        continue
    fi
    for dll in $imports; do
        if [[ "$allowed" != *" ${dll,,} "* ]]; then
            echo "check_imports: $exe imports $dll, which Windows may load from the program's folder" >&2
            status=1
        fi
    done
    echo "check_imports: $(basename "$exe") imports" $imports
done
exit $status
