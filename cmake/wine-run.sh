#!/bin/sh
# Runs a program of the Windows cross build under Wine, with the MinGW-w64
# run-time DLLs (libstdc++, libgcc, winpthread) on its DLL search path.
# The cross build's own DLLs lie beside its programs (build folder's bin/).
set -e
gcc_dir=$(dirname "$(x86_64-w64-mingw32-g++-posix -print-libgcc-file-name)")
WINEPATH="$gcc_dir;/usr/x86_64-w64-mingw32/lib${WINEPATH:+;$WINEPATH}"
WINEDEBUG=${WINEDEBUG:--all}
export WINEPATH WINEDEBUG
wine=$(command -v wine64 || echo /usr/lib/wine/wine64)
exec "$wine" "$@"
