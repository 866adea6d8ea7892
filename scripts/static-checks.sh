#!/usr/bin/env bash
# cppcheck and clang-tidy (checks and reasons in .clang-tidy) over src/, cli/,
# tools/ and win32/. Any finding fails the run.
#
# clang-tidy reads the native build's compile database for the portable code
# and the tools, and the Windows cross build's for win32/ and the *_win32.cpp
# files, with clang told the MinGW target so the Windows headers of the
# cross compiler are the ones it parses.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
status=0

echo "== cppcheck"
cppcheck -q -j "$jobs" --enable=warning,performance,portability --std=c++20 --language=c++ \
  --inline-suppr --suppress=missingIncludeSystem --error-exitcode=1 -I src -I tools \
  src cli tools win32 || status=1

echo "== clang-tidy (native: src, cli, tools)"
[ -f build/native/compile_commands.json ] || cmake --preset native >/dev/null
find src cli tools -name '*.cpp' ! -name '*_win32.cpp' ! -path 'tools/uidriver/*' -print0 |
  xargs -0 -P "$jobs" -n 4 clang-tidy -p build/native --quiet 2>/dev/null >build/clang-tidy-native.log ||
  status=1
grep -E ': (warning|error):' build/clang-tidy-native.log || true

echo "== clang-tidy (Windows target: win32, *_win32.cpp, tools/uidriver)"
if [ ! -f build/windows/compile_commands.json ]; then
  cmake --preset windows >/dev/null
fi
find win32 src tools/uidriver \( -path 'win32/*.cpp' -o -name '*_win32.cpp' -o -path 'tools/uidriver/*.cpp' \) -print0 |
  xargs -0 -P "$jobs" -n 4 clang-tidy -p build/windows --quiet \
    --extra-arg=--target=x86_64-w64-mingw32 2>/dev/null >build/clang-tidy-windows.log || status=1
grep -E ': (warning|error):' build/clang-tidy-windows.log || true

[ $status -eq 0 ] && echo "static checks: clean" || echo "static checks: FINDINGS (see above)"
exit $status
