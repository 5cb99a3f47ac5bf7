#!/usr/bin/env bash
# Builds the Debian package (scripts/package.sh) and checks its file list, its dependencies
# (from the shared libraries) and lintian (no errors; the warnings allowed are listed below).
#   check_package.sh <build folder>
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
failed=0
fail() { echo "FAIL: $*"; failed=1; }

deb=$("$top/scripts/package.sh" "$1" 2>/dev/null | tail -n1)
[ -f "$deb" ] || { echo "FAIL: no package"; exit 1; }
[ "$(dpkg-deb -f "$deb" Package)" = glimmerly ] || fail "package name"
[ "$(dpkg-deb -f "$deb" Version)" = "$("$1/service/glimmerly-service" --version | cut -d' ' -f2)-1" ] ||
    fail "version $(dpkg-deb -f "$deb" Version)"

files=$(dpkg-deb -c "$deb" | awk '{print $6}')
for f in ./usr/bin/glimmerly ./usr/bin/glimmerly-service \
    ./usr/share/applications/org.glimmerly.Glimmerly.desktop \
    ./usr/share/metainfo/org.glimmerly.Glimmerly.metainfo.xml \
    ./usr/share/icons/hicolor/256x256/apps/org.glimmerly.Glimmerly.png \
    ./usr/share/icons/hicolor/scalable/apps/org.glimmerly.Glimmerly.svg \
    ./usr/share/man/man1/glimmerly.1.gz ./usr/share/man/man1/glimmerly-service.1.gz \
    ./usr/lib/systemd/user/glimmerly-service.service ./usr/share/doc/glimmerly/copyright; do
    echo "$files" | grep -qxF "$f" || fail "package lacks $f"
done
unit=$(dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/user/glimmerly-service.service)
echo "$unit" | grep -qx "ExecStart=/usr/bin/glimmerly-service" || fail "unit in the package: $unit"
owners=$(dpkg-deb -c "$deb" | awk '{print $2}' | sort -u)
[ "$owners" = root/root ] || fail "files owned by $owners"

# Every shared library either program links shows up as a dependency.
depends=$(dpkg-deb -f "$deb" Depends)
names=$(echo "$depends" | tr ',' '\n' | awk '{print $1}')
for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo libxcb1 \
    libxcb-xtest0 libmicrohttpd12 libsqlite3-0 libpq5; do
    echo "$names" | grep -qxF "$lib" || fail "Depends lacks $lib: $depends"
done

# initial-upload-closes-no-bugs: the package is not uploaded to Debian, so there is no bug to close.
report=$(lintian --allow-root --suppress-tags initial-upload-closes-no-bugs "$deb" 2>&1) || true
if echo "$report" | grep -q '^E:'; then
    fail "lintian errors:"
    echo "$report"
fi
echo "$report" | grep -q '^W:' && fail "new lintian warnings: $report"

[ "$failed" = 0 ] && echo PASS
exit "$failed"
