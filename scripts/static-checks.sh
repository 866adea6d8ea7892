#!/usr/bin/env bash
# cppcheck and clang-tidy (checks and reasons in .clang-tidy) over src/, cli/
# and tools/, then clang-tidy over win32/, the *_win32.cpp files and the UI
# driver (clang told the MinGW target, through the Windows cross build's
# compile database, so the cross compiler's Windows headers are the ones
# parsed). PARLEX2_TIDY_WINDOWS=0 leaves out that second pass. Then the
# include rules: no layer library includes a higher one, and <windows.h> only
# in win32/ and the *_win32.cpp files.
#
# A finding is its file and check. scripts/static-checks.baseline lists the
# findings accepted when the checks were introduced (each reviewed; see the
# file); the run fails when a file has a finding of a check more often than
# the baseline allows, so new code meets every check. `--update` rewrites the
# baseline from this run.
set -uo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
baseline=scripts/static-checks.baseline
mkdir -p build
found=build/static-checks.found
: >"$found"

# path [check]: one line per finding, without line numbers or messages.
normalise() {
  sed -nE 's#^(/[^:]*/)?((src|cli|tools|win32)/[^:]+):[0-9]+:([0-9]+:)? (warning|error|style|performance|portability): .*\[([A-Za-z0-9_.,-]+)\]$#\2 [\6]#p' |
    sed -E 's/,-warnings-as-errors//'
}

echo "== cppcheck"
cppcheck -q -j "$jobs" --enable=warning,performance,portability --std=c++20 --language=c++ \
  --inline-suppr --suppress=missingIncludeSystem -I src -I tools \
  --template='{file}:{line}:{column}: {severity}: {message} [{id}]' \
  src cli tools win32 2>&1 | tee build/cppcheck.log | normalise >>"$found"

echo "== clang-tidy (native: src, cli, tools)"
[ -f build/native/compile_commands.json ] || cmake --preset native >/dev/null
find src cli tools -name '*.cpp' ! -name '*_win32.cpp' ! -path 'tools/uidriver/*' -print0 |
  xargs -0 -P "$jobs" -n 4 clang-tidy -p build/native --quiet >build/clang-tidy-native.log 2>/dev/null
normalise <build/clang-tidy-native.log >>"$found"

if [ "${PARLEX2_TIDY_WINDOWS:-1}" = 1 ]; then
  echo "== clang-tidy (Windows target: win32, *_win32.cpp, tools/uidriver)"
  cmake --preset windows >/dev/null  # the compile database and generated headers
  # clang does not find the cross compiler's C++ library by itself: it is
  # given the folders the cross compiler searches.
  cxx_dirs=()
  while read -r dir; do cxx_dirs+=("--extra-arg=-isystem$dir"); done < <(
    x86_64-w64-mingw32-g++-posix -E -x c++ -v - </dev/null 2>&1 |
      sed -n '/^#include <...> search starts here/,/^End of search list/s#^ \(/.*/c++.*\)#\1#p')
  find win32 src tools/uidriver \( -path 'win32/*.cpp' -o -name '*_win32.cpp' -o -path 'tools/uidriver/*.cpp' \) -print0 |
    xargs -0 -P "$jobs" -n 4 clang-tidy -p build/windows --quiet \
      --extra-arg=--target=x86_64-w64-mingw32 "${cxx_dirs[@]}" >build/clang-tidy-windows.log 2>/dev/null
  normalise <build/clang-tidy-windows.log >>"$found"
fi

echo "== include rules (layers, platform headers)"
# The layer libraries, each with what it may include:
#   common <- link <- connect <- script, upgrade <- app
# (script and upgrade stand side by side), and the simulator beside them,
# sharing only common. An include against the arrows is a finding.
include_findings() {
  declare -A may=(
    [common]="common" [link]="common link" [connect]="common link connect"
    [script]="common link connect script" [upgrade]="common link connect upgrade"
    [app]="common link connect script upgrade app" [sim]="common")
  local file layer used
  while IFS= read -r file; do
    case $file in
      src/*) layer=${file#src/}; layer=${layer%%/*} ;;
      tools/sim/*) layer=sim ;;
    esac
    [ -n "${may[$layer]:-}" ] || continue
    while IFS= read -r used; do
      [[ " ${may[$layer]} " == *" $used "* ]] || echo "$file [include-layers]"
    done < <(sed -nE 's#^[[:space:]]*\#[[:space:]]*include[[:space:]]*"(common|link|connect|script|upgrade|app)/.*#\1#p' "$file")
  done < <(find src tools/sim \( -name '*.cpp' -o -name '*.h' \) | sort)
  # The Windows headers belong to win32/, the *_win32.cpp files and the
  # resource scripts (*.rc) alone.
  grep -rlE '^[[:space:]]*#[[:space:]]*include[[:space:]]*<(windows|winsock2|ws2tcpip)\.h>' \
    src cli tools tests bench fuzz win32 | grep -vE '^win32/|_win32\.cpp$|\.rc$' |
    sed 's/$/ [windows-h-outside-platform-files]/' || true
}
include_findings | tee build/include-rules.log >>"$found"

sort "$found" | uniq -c | awk '{print $1, $2, $3}' >"$found.counted"
if [ "${1:-}" = --update ]; then
  { echo "# count file [check]: findings accepted as they stand (scripts/static-checks.sh)"
    cat "$found.counted"; } >"$baseline"
  echo "baseline written: $(wc -l <"$found.counted") entries"
  exit 0
fi
new=$(awk 'NR==FNR { if ($0 !~ /^#/) allowed[$2" "$3] = $1; next }
           { if ($1 > allowed[$2" "$3] + 0) print $2, $3, "(" $1 " found, " (allowed[$2" "$3] + 0) " allowed)" }' \
  "$baseline" "$found.counted")
if [ -n "$new" ]; then
  echo "static checks: NEW FINDINGS"
  echo "$new"
  grep -hE ': (warning|error|style|performance|portability): ' build/cppcheck.log build/clang-tidy-*.log | head -50
  exit 1
fi
echo "static checks: no new finding ($(wc -l <"$found") accepted in the baseline)"
