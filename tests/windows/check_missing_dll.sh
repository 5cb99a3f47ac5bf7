#!/usr/bin/env bash
# A DLL the program or a plugin links that is neither in the Qt prefix nor one of Windows' own
# stops scripts/windows/package.sh, naming it, before an installer whose program cannot start
# is written:
#   check_missing_dll.sh PROGRAM.exe QT_PREFIX WORK_DIR
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
exe=$1 qt=$2 work=$3
rm -rf "$work"
mkdir -p "$work"
cp -a "$qt" "$work/qt"
# The plugin's own dependency, which the program does not link.
rm "$work/qt/bin/Qt6Gui.dll"
output=$(GLIMMERLY_EXE=$exe GLIMMERLY_QT_PREFIX=$work/qt "$top/scripts/windows/package.sh" "$work" "$work/out" 2>&1)
status=$?
failed=0
[ $status -ne 0 ] || { echo "FAIL: packed without Qt6Gui.dll"; failed=1; }
[[ "$output" == *"qwindows.dll links Qt6Gui.dll"* ]] || { echo "FAIL: the message: $output"; failed=1; }
if [ -n "$(find "$work/out" -maxdepth 1 \( -name '*.exe' -o -name '*.zip' \) 2>/dev/null)" ]; then
    echo "FAIL: a package was written"
    failed=1
fi
exit $failed
