#!/usr/bin/env bash
# Packs the Windows build of glimmerly.exe: the installer Glimmerly-<version>-setup.exe (NSIS)
# and the portable Glimmerly-<version>-portable.zip, both into OUT_DIR.
#   scripts/windows/package.sh BUILD_DIR OUT_DIR
# BUILD_DIR is a configured Windows build (scripts/windows/build.sh); the program is taken from
# its app/ folder and Qt from the prefix it was configured with. GLIMMERLY_EXE and
# GLIMMERLY_QT_PREFIX name others. Beside the program go the DLLs it and its Qt plugins link,
# found by their import tables; what is neither in the Qt prefix nor in the compiler's runtime
# folders must be one of Windows' own DLLs, or the packing stops.
# The staged folder stays in OUT_DIR/glimmerly-package/Glimmerly. The last two lines of the
# output are the zip's path and the installer's; the sizes go to standard error.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ $# -eq 2 ] || { echo "usage: package.sh BUILD_DIR OUT_DIR" >&2; exit 2; }
build=$(cd "$1" && pwd)
mkdir -p "$2"
out=$(cd "$2" && pwd)
triple=x86_64-w64-mingw32
fail() { echo "package.sh: $*" >&2; exit 1; }

exe=${GLIMMERLY_EXE:-$build/app/glimmerly.exe}
[ -f "$exe" ] || fail "no program at $exe"
qt=${GLIMMERLY_QT_PREFIX:-}
if [ -z "$qt" ]; then
    qt_dir=$(sed -n 's/^Qt6_DIR:[A-Z]*=//p' "$build/CMakeCache.txt" 2>/dev/null || true)
    [ -n "$qt_dir" ] || fail "$build names no Qt (Qt6_DIR); set GLIMMERLY_QT_PREFIX"
    [ -d "$qt_dir" ] || fail "Qt6_DIR of $build, $qt_dir, does not exist"
    qt=$(cd "$qt_dir/../../.." && pwd)
fi
version=$(sed -n 's/^project(Glimmerly VERSION \([0-9.]*\).*/\1/p' "$top/CMakeLists.txt")
[ -n "$version" ] || fail "no version in CMakeLists.txt"
version4=$version
while [ "$(echo "$version4" | tr -cd . | wc -c)" -lt 3 ]; do version4=$version4.0; done

work=$out/glimmerly-package
stage=$work/Glimmerly
rm -rf "$work"
mkdir -p "$stage"
cp "$exe" "$stage/glimmerly.exe"
# Qt finds its plugins in folders beside the program. Without a style plugin Qt draws its own
# Fusion style; with one, the system's look.
for plugin in platforms/qwindows.dll styles/qwindowsvistastyle.dll; do
    if [ -f "$qt/plugins/$plugin" ]; then
        mkdir -p "$stage/$(dirname "$plugin")"
        cp "$qt/plugins/$plugin" "$stage/$plugin"
    elif [ "$plugin" = platforms/qwindows.dll ]; then
        fail "no $plugin in $qt/plugins"
    fi
done

# Where the DLLs come from: Qt's, then the compiler's runtimes (a Qt built without -static links
# libstdc++, libgcc and winpthread).
gcc_dir=$(dirname "$("$triple-gcc-posix" -print-libgcc-file-name)")
search=("$qt/bin" "$gcc_dir" "/usr/$triple/lib" "/usr/$triple/bin")
# Windows' own DLLs: those wine brings, or those the compiler has an import library for, or the
# API sets.
windows_dll() {
    local name=${1,,}
    [[ "$name" =~ ^(api|ext)-ms- ]] ||
        [ -f "/usr/$triple/lib/lib${name%.*}.a" ] ||
        [ -n "$(find /usr/lib/x86_64-linux-gnu/wine/x86_64-windows -maxdepth 1 -iname "$name" -print -quit 2>/dev/null)" ]
}
imports() { "$triple-objdump" -p "$1" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr -d '\r'; }
queue=("$stage/glimmerly.exe")
while IFS= read -r -d '' plugin; do queue+=("$plugin"); done < <(find "$stage" -mindepth 2 -name '*.dll' -print0)
while [ ${#queue[@]} -gt 0 ]; do
    file=${queue[0]}
    queue=("${queue[@]:1}")
    for dll in $(imports "$file"); do
        [ -n "$(find "$stage" -maxdepth 1 -iname "$dll" -print -quit)" ] && continue
        found=
        for dir in "${search[@]}"; do
            found=$(find "$dir" -maxdepth 1 -iname "$dll" -print -quit 2>/dev/null || true)
            [ -n "$found" ] && break
        done
        if [ -n "$found" ]; then
            cp "$found" "$stage/"
            queue+=("$stage/$(basename "$found")")
        elif ! windows_dll "$dll"; then
            fail "$(basename "$file") links $dll, found neither in $qt/bin nor among the compiler's or Windows' DLLs"
        fi
    done
done
find "$stage" -type f \( -iname '*.exe' -o -iname '*.dll' \) -exec "$triple-strip" --strip-unneeded {} +

# The icon, and the uninstaller's list: every staged file, then the folders deepest first.
python3 "$top/packaging/windows/make_icon.py" "$work/glimmerly.ico" \
    "$top"/packaging/icons/{16x16,24x24,32x32,48x48,64x64,256x256}.png
# shellcheck disable=SC2016 # $INSTDIR is NSIS's, not the shell's
(
    cd "$stage"
    find . -type f | sort | sed 's|^\./||; s|/|\\|g; s|.*|    Delete "$INSTDIR\\&"|'
    find . -mindepth 1 -type d | sort -r | sed 's|^\./||; s|/|\\|g; s|.*|    RMDir "$INSTDIR\\&"|'
) > "$work/files.nsh"

setup=$out/Glimmerly-$version-setup.exe
zip=$out/Glimmerly-$version-portable.zip
rm -f "$setup" "$zip"
makensis -INPUTCHARSET UTF8 -V2 -DVERSION="$version" -DVERSION4="$version4" -DSTAGE="$stage" \
    -DFILES="$work/files.nsh" -DICON="$work/glimmerly.ico" -DOUTFILE="$setup" \
    "$top/packaging/windows/glimmerly.nsi" >&2
(cd "$work" && zip -q -r -9 -X "$zip" Glimmerly)
echo "installer: $(stat -c %s "$setup") bytes, portable zip: $(stat -c %s "$zip") bytes" >&2
echo "$zip"
echo "$setup"
