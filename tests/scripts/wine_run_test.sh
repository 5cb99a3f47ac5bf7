#!/usr/bin/env bash
# The wine runner asks a test program that listed nothing for its tests once more, and fails
# when it never lists any (ctest would take an empty list for a program without tests). Wine and
# the cross compiler are stand-ins here.
#   wine_run_test.sh scripts/windows/wine-run.sh
set -uo pipefail
runner=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
problems=0
fail() { echo "FAIL: $*"; problems=1; }

mkdir "$work/bin"
cat >"$work/bin/x86_64-w64-mingw32-gcc-posix" <<'STANDIN'
#!/bin/sh
echo /usr/lib/gcc/x86_64-w64-mingw32/12-posix/libgcc.a
STANDIN
# Prints nothing on its first EMPTY_STARTS starts, then a listing; counts its starts.
cat >"$work/bin/wine" <<'STANDIN'
#!/bin/sh
n=$(($(cat "$STARTS" 2>/dev/null || echo 0) + 1))
echo $n >"$STARTS"
[ "$n" -gt "$EMPTY_STARTS" ] || exit 0
echo "Running main() from gtest_main.cc"
echo "Suite."
echo "  Case"
STANDIN
chmod +x "$work/bin/"*
export PATH="$work/bin:$PATH" WINEPREFIX=$work/prefix STARTS=$work/starts

list() { rm -f "$STARTS"; EMPTY_STARTS=$1 "$runner" "$work/qt" program.exe --gtest_list_tests 2>/dev/null; }

out=$(list 1) || fail "a listing on the second start failed"
[[ $out == *"Suite."*"  Case"* ]] || fail "the second start's listing was not passed on: $out"
[ "$(cat "$STARTS")" = 2 ] || fail "started $(cat "$STARTS") times for one empty listing"

list 0 >/dev/null && [ "$(cat "$STARTS")" = 1 ] || fail "a listing at once was not taken at once"

if list 99 >/dev/null; then fail "never listing any test counted as success"; fi
[ "$(cat "$STARTS")" = 3 ] || fail "a program that lists nothing was started $(cat "$STARTS") times"

# Anything but a listing is run once, whatever it prints.
rm -f "$STARTS"
EMPTY_STARTS=5 "$runner" "$work/qt" program.exe --gtest_filter=Suite.Case >/dev/null 2>&1
[ "$(cat "$STARTS")" = 1 ] || fail "a test run was started $(cat "$STARTS") times"

exit $problems
