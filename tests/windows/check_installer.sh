#!/usr/bin/env bash
# Packs a Windows build with scripts/windows/package.sh and proves the package under wine, in a
# copy of the common wine prefix (which stays untouched):
#   check_installer.sh PROGRAM.exe QT_PREFIX WORK_DIR HOLD_MUTEX.exe
# - the program and the installer carry the icon, the version and (the program) the manifest;
# - the portable zip's program starts;
# - while the program runs (HOLD_MUTEX.exe holds its mutex), neither the installer nor the
#   uninstaller changes anything;
# - /S installs for all users into Program Files: files, Start menu link, uninstall key, no
#   autostart; the installed program starts; the uninstaller (/S) removes all that and leaves a
#   file of the user's own in the folder;
# - /CurrentUser /AUTOSTART installs for the current user alone, with the autostart value, and the
#   uninstaller removes it again.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
top=$(cd "$here/../.." && pwd)
exe=$1 qt=$2 work=$3 holder=$4
failed=0
fail() { echo "FAIL: $*"; failed=1; }
icon_sizes=(16 24 32 48 64 256)

rm -rf "$work"
mkdir -p "$work"
packed=$(GLIMMERLY_EXE=$exe GLIMMERLY_QT_PREFIX=$qt "$top/scripts/windows/package.sh" "$work" "$work/out")
setup=$(echo "$packed" | tail -n1)
zip=$(echo "$packed" | tail -n2 | head -n1)
version=$(sed -n 's/^project(Glimmerly VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
[ "$(basename "$setup")" = "Glimmerly-$version-setup.exe" ] || fail "installer named $setup"
echo "installer size: $(stat -c %s "$setup") bytes; portable zip: $(stat -c %s "$zip") bytes"

# What Explorer shows of the files.
version_info() { x86_64-w64-mingw32-windres -i "$1" -O rc | sed -n 's/^ *VALUE "\([A-Za-z]*\)", "\(.*\)"$/\1=\2/p'; }
staged=$work/out/glimmerly-package/Glimmerly/glimmerly.exe
for file in "$setup" "$staged"; do
    info=$(version_info "$file")
    for line in "ProductName=Glimmerly" "ProductVersion=$version" "CompanyName=The Glimmerly developers"; do
        echo "$info" | grep -qxF "$line" || fail "$(basename "$file") lacks $line in: $info"
    done
    "$here/check_icon.py" "$file" "$top/packaging/icons" "${icon_sizes[@]}" || fail "icon of $(basename "$file")"
done
# Qt's Windows platform gives the windows the icon of this name.
"$here/pe_resources.py" "$staged" dump 14 IDI_ICON1 >/dev/null || fail "the program has no icon IDI_ICON1"
manifest=$("$here/pe_resources.py" "$staged" dump 24 1 || true)
for part in '<dpiAwareness xmlns="http://schemas.microsoft.com/SMI/2016/WindowsSettings">PerMonitorV2' \
    '<supportedOS Id="{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"/>' 'level="asInvoker"'; do
    [[ "$manifest" == *"$part"* ]] || fail "the program's manifest lacks $part"
done

export WINEPREFIX=$work/wineprefix WINEDEBUG=-all
common=${GLIMMERLY_WINEPREFIX:-$HOME/.cache/glimmerly-windows/wineprefix}
if [ -d "$common/drive_c" ]; then
    cp -a --reflink=auto "$common" "$WINEPREFIX"
else
    wineboot --init >/dev/null 2>&1
    wineserver -w
fi
trap 'wineserver -k 2>/dev/null || true; rm -rf "$WINEPREFIX"' EXIT
drive=$WINEPREFIX/drive_c

# The program starts where it lies, from what lies beside it.
starts() {
    local out
    out=$(wine "$1" --version 2>&1) || { fail "$1 --version failed: $out"; return; }
    [[ "$out" == *"$version"* ]] || fail "$1 --version printed: $out"
}
mkdir "$work/portable"
(cd "$work/portable" && unzip -q "$zip")
starts "$work/portable/Glimmerly/glimmerly.exe"

uninstall_key='Software\Microsoft\Windows\CurrentVersion\Uninstall\Glimmerly'
run_key='Software\Microsoft\Windows\CurrentVersion\Run'
# The installer and the uninstaller hand on to copies of themselves: wait for every process.
run() { wine "$@" >/dev/null 2>&1 || true; wineserver -w; }
# A value's data, empty when it or its key is missing. Asked up to three times: under the load of
# many wine tests at once, `wine reg query` has once printed nothing for a value that was there.
reg_value() {
    local data _
    for _ in 1 2 3; do
        data=$({ wine reg query "$1\\$2" /v "$3" 2>/dev/null || true; } | tr -d '\r' |
            sed -n "s/^ *$3 *REG_[A-Z_]* *//p")
        [ -z "$data" ] || break
    done
    printf '%s' "$data"
}
installed_files() { (cd "$1" && find . -type f | sort | sed 's|^\./||'); }
# A running Glimmerly, until release.
hold() {
    rm -f "$work/hold" "$work/held"
    mkfifo "$work/hold"
    wine "$holder" <"$work/hold" >"$work/held" 2>/dev/null &
    holder_pid=$!
    exec 3>"$work/hold"
    for _ in $(seq 100); do
        grep -q held "$work/held" 2>/dev/null && return
        sleep 0.2
    done
    fail "the mutex was not taken"
}
release() {
    exec 3>&-
    wait "$holder_pid" || true
}
expected=$( (cd "$work/out/glimmerly-package/Glimmerly" && find . -type f; echo ./uninstall.exe) | sort | sed 's|^\./||')

# While the mutex is held, wineserver -w would wait for the holder too: these runs are waited
# for alone (the uninstaller, with _?=, runs where it lies instead of from a copy), and say
# by their exit status 2 that they stopped.
refused() {
    local status=0
    wine "$@" >/dev/null 2>&1 || status=$?
    [ $status -eq 2 ] || fail "$(basename "$1") ended with $status while the program ran"
}
hold
refused "$setup" /S
release
dir="$drive/Program Files/Glimmerly"
[ ! -e "$dir" ] || fail "installed while the program ran"

run "$setup" /S
dir="$drive/Program Files/Glimmerly"
[ "$(installed_files "$dir" 2>/dev/null)" = "$expected" ] ||
    fail "Program Files holds: $(installed_files "$dir" 2>/dev/null | tr '\n' ' ')"
link="$drive/ProgramData/Microsoft/Windows/Start Menu/Programs/Glimmerly.lnk"
[ -f "$link" ] || fail "no Start menu link for all users"
[ "$(reg_value HKLM "$uninstall_key" DisplayVersion)" = "$version" ] || fail "uninstall key: version"
[ "$(reg_value HKLM "$uninstall_key" DisplayName)" = Glimmerly ] || fail "uninstall key: name"
quiet=$(reg_value HKLM "$uninstall_key" QuietUninstallString)
[ "$quiet" = '"C:\Program Files\Glimmerly\uninstall.exe" /AllUsers /S' ] || fail "quiet uninstall: $quiet"
[ -z "$(reg_value HKLM "$run_key" Glimmerly)" ] || fail "starts with Windows without being asked"
starts "$dir/glimmerly.exe"
"$here/check_icon.py" "$dir/uninstall.exe" "$top/packaging/icons" "${icon_sizes[@]}" || fail "icon of the uninstaller"

hold
# (_?= takes the rest of the command line, unquoted: the folder by its short name.)
refused "$dir/uninstall.exe" /AllUsers /S '_?=C:\PROGRA~1\Glimmerly'
release
[ "$(installed_files "$dir")" = "$expected" ] || fail "files removed while the program ran"
[ "$(reg_value HKLM "$uninstall_key" DisplayVersion)" = "$version" ] || fail "unregistered while the program ran"

echo "kept" > "$dir/notes.txt"
run "$dir/uninstall.exe" /AllUsers /S
[ "$(installed_files "$dir" 2>/dev/null)" = notes.txt ] ||
    fail "after uninstalling, the folder holds: $(installed_files "$dir" 2>/dev/null | tr '\n' ' ')"
[ ! -e "$link" ] || fail "the Start menu link is left"
wine reg query "HKLM\\$uninstall_key" >/dev/null 2>&1 && fail "the uninstall key is left"

run "$setup" /CurrentUser /AUTOSTART /S
user_dir=$(find "$drive/users" -path '*/AppData/Local/Programs/Glimmerly' -type d | head -n1)
if [ -z "$user_dir" ] || [ "$(installed_files "$user_dir")" != "$expected" ]; then
    fail "no install under the user's AppData\\Local\\Programs"
fi
[ "$(installed_files "$dir")" = notes.txt ] ||
    fail "a per-user install wrote to Program Files"
wine reg query "HKLM\\$uninstall_key" >/dev/null 2>&1 && fail "a per-user install registered for all users"
[ "$(reg_value HKCU "$uninstall_key" DisplayVersion)" = "$version" ] || fail "no uninstall key for the user"
autostart=$(reg_value HKCU "$run_key" Glimmerly)
# shellcheck disable=SC1003 # backslashes of Windows paths, not escapes
[[ "$autostart" == '"C:\users\'*'\AppData\Local\Programs\Glimmerly\glimmerly.exe"' ]] || fail "autostart: $autostart"
user_link=$(find "$drive/users" -path '*/Start Menu/Programs/Glimmerly.lnk' | head -n1)
[ -n "$user_link" ] || fail "no Start menu link for the user"

quiet=$(reg_value HKCU "$uninstall_key" QuietUninstallString)
run "$user_dir/uninstall.exe" /CurrentUser /S
[ ! -e "$user_dir" ] || fail "the user's folder is left: $(installed_files "$user_dir" | tr '\n' ' ')"
[ -z "$(reg_value HKCU "$run_key" Glimmerly)" ] || fail "the autostart value is left"
wine reg query "HKCU\\$uninstall_key" >/dev/null 2>&1 && fail "the user's uninstall key is left"
[ -z "$user_link" ] || [ ! -e "$user_link" ] || fail "the user's Start menu link is left"
[[ "$quiet" == *'uninstall.exe" /CurrentUser /S' ]] || fail "quiet uninstall for the user: $quiet"

[ $failed -eq 0 ] && echo "package checked"
exit $failed
