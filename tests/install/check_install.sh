#!/usr/bin/env bash
# Installs the build into a staging folder (DESTDIR) and checks every file's place, the desktop
# entry, the AppStream metadata, the manual pages and the systemd user unit.
#   check_install.sh <build folder>
set -euo pipefail
build=$1
stage=$(mktemp -d "${TMPDIR:-/tmp}/glimmerly-stage-XXXXXX")
trap 'rm -rf "$stage"' EXIT
failed=0
fail() { echo "FAIL: $*"; failed=1; }

DESTDIR="$stage" cmake --install "$build" --prefix /usr >/dev/null
id=org.glimmerly.Glimmerly
expected="usr/bin/glimmerly
usr/bin/glimmerly-service
usr/lib/systemd/user/glimmerly-service.service
usr/share/applications/$id.desktop
usr/share/doc/glimmerly/changelog.Debian.gz
usr/share/doc/glimmerly/copyright
usr/share/icons/hicolor/scalable/apps/$id.svg
usr/share/man/man1/glimmerly-service.1.gz
usr/share/man/man1/glimmerly.1.gz
usr/share/metainfo/$id.metainfo.xml"
for size in 16 22 24 32 48 64 128 256; do
    expected+=$'\n'"usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
done
actual=$(cd "$stage" && find . -type f | sed 's|^\./||' | LC_ALL=C sort)
expected=$(echo "$expected" | LC_ALL=C sort)
if [ "$actual" != "$expected" ]; then
    fail "installed files differ:"
    diff <(echo "$expected") <(echo "$actual") || true
fi
[ -x "$stage/usr/bin/glimmerly" ] && [ -x "$stage/usr/bin/glimmerly-service" ] || fail "programs not executable"

# Each PNG is the size its folder says.
for size in 16 22 24 32 48 64 128 256; do
    png="$stage/usr/share/icons/hicolor/${size}x${size}/apps/$id.png"
    file "$png" | grep -q "PNG image data, $size x $size," || fail "$png: $(file -b "$png")"
done

# The desktop entry: valid, German texts, the categories, the icon, startup notification.
# (--no-hints: Graphics and Utility are both main categories, which the validator notes as a
# hint; the menu entry is meant to be in both.)
desktop="$stage/usr/share/applications/$id.desktop"
out=$(desktop-file-validate --no-hints "$desktop" 2>&1) || fail "desktop-file-validate failed"
[ -z "$out" ] || fail "desktop-file-validate: $out"
for line in "Name[de]=Glimmerly" "Comment[de]=Bildschirmfoto mit der Druck-Taste aufnehmen und hochladen" \
    "Categories=Graphics;Utility;" "Icon=$id" "StartupNotify=true" "Exec=glimmerly"; do
    grep -qxF "$line" "$desktop" || fail "desktop entry lacks: $line"
done

# AppStream: valid without the network, the same id, a German summary and description, a screenshot.
meta="$stage/usr/share/metainfo/$id.metainfo.xml"
out=$(appstreamcli validate --no-net "$meta" 2>&1) || fail "appstreamcli: $out"
echo "$out" | grep -Eq '^(I|W|E):' && fail "appstreamcli reports: $out"
grep -q "<id>$id</id>" "$meta" || fail "metadata id"
grep -q '<launchable type="desktop-id">'"$id"'.desktop</launchable>' "$meta" || fail "launchable"
grep -q '<summary xml:lang="de">' "$meta" || fail "no German summary"
grep -q '<p xml:lang="de">' "$meta" || fail "no German description"
grep -q '<screenshot type="default">' "$meta" || fail "no screenshot"
grep -q "<release version=\"$("$stage/usr/bin/glimmerly-service" --version | cut -d' ' -f2)\"" "$meta" ||
    fail "release version differs from the program's"

# Manual pages render without a single warning.
for page in glimmerly glimmerly-service; do
    out=$(zcat "$stage/usr/share/man/man1/$page.1.gz" | groff -man -ww -Tutf8 -z 2>&1)
    [ -z "$out" ] || fail "$page.1: $out"
done

# The user unit runs the installed service.
unit="$stage/usr/lib/systemd/user/glimmerly-service.service"
grep -qx "ExecStart=/usr/bin/glimmerly-service" "$unit" || fail "unit: $(grep ExecStart "$unit")"
grep -qx "WantedBy=default.target" "$unit" || fail "unit is not for the user's session"

[ "$failed" = 0 ] && echo PASS
exit "$failed"
