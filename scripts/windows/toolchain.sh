#!/usr/bin/env bash
# Builds what Glimmerly needs for 64-bit Windows from Debian's own source packages: Qt (qtbase:
# Core, Gui, Widgets, Test and the windows platform plugin), libjpeg-turbo with its SIMD code,
# and GoogleTest from Debian's googletest sources. Built once per machine into a cache folder
# keyed by the versions and this script's settings; later runs only print the prefix.
#   toolchain.sh            -> prints the prefix (GLIMMERLY_WINDOWS_CACHE, default ~/.cache/...)
# The host's Qt tools (moc, rcc, uic) are Debian's own Qt of the same version.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
qt_version=6.4.2+dfsg-10
jpeg_version=1:2.1.5-2
cache=${GLIMMERLY_WINDOWS_CACHE:-${XDG_CACHE_HOME:-$HOME/.cache}/glimmerly-windows}
jobs=${GLIMMERLY_WINDOWS_JOBS:-$(nproc)}
# Raise when the settings below change: a new prefix is built (in the same work folders, so
# only what the change touches is compiled again).
recipe=2
key=$(echo "$qt_version $jpeg_version $recipe" | cat - "$here/mingw-w64.cmake" | sha256sum | cut -c1-12)
prefix=$cache/prefix-$key
toolchain=$here/mingw-w64.cmake
log=$cache/build-$key.log

if [ -e "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi
mkdir -p "$cache"
echo "toolchain: building Qt, libjpeg-turbo and GoogleTest for Windows into $prefix (log: $log)" >&2
start=$(date +%s)
src=$cache/src
"$here/fetch-source.sh" qt6-base "$qt_version" "$src"
"$here/fetch-source.sh" libjpeg-turbo "$jpeg_version" "$src"
work=$cache/work
mkdir -p "$work"

run() { nice -n 10 "$@" >>"$log" 2>&1 || { tail -40 "$log" >&2; exit 1; }; }

# libjpeg-turbo: static, with its SIMD code (nasm).
if [ ! -e "$prefix/lib/libjpeg.a" ]; then
    run cmake -S "$src"/libjpeg-turbo-2.1.5 -B "$work/jpeg" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
        -DWITH_SIMD=ON -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF -DREQUIRE_SIMD=ON
    run ninja -C "$work/jpeg" -j"$jobs" install
fi

# GoogleTest from the sources Debian's googletest package installs.
if [ ! -e "$prefix/lib/libgtest.a" ]; then
    run cmake -S /usr/src/googletest -B "$work/gtest" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -Dgtest_disable_pthreads=OFF -DBUILD_GMOCK=ON
    run ninja -C "$work/gtest" -j"$jobs" install
fi

# Qt: only the modules and features Glimmerly uses. The windows plugin needs tabletevent off
# (Debian's source drops the wintab headers), directwrite3 off with direct2d, and dynamicgl off
# with OpenGL.
if [ ! -e "$prefix/bin/Qt6Widgets.dll" ]; then
    run cmake -S "$src"/qt6-base-6.4.2+dfsg -B "$work/qt" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_SHARED_LIBS=ON \
        -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
        -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
        -DFEATURE_sql=OFF -DFEATURE_network=OFF -DFEATURE_dbus=OFF -DFEATURE_opengl=OFF \
        -DFEATURE_dynamicgl=OFF \
        -DFEATURE_printsupport=OFF -DFEATURE_concurrent=OFF -DFEATURE_xml=OFF \
        -DFEATURE_tabletevent=OFF -DFEATURE_direct2d=OFF -DFEATURE_directwrite3=OFF \
        -DFEATURE_vulkan=OFF -DFEATURE_system_zlib=OFF -DFEATURE_system_png=OFF \
        -DFEATURE_system_jpeg=OFF -DFEATURE_jpeg=OFF -DFEATURE_system_pcre2=OFF \
        -DFEATURE_system_harfbuzz=OFF -DFEATURE_system_freetype=OFF -DFEATURE_freetype=ON \
        -DFEATURE_testlib=ON -DFEATURE_widgets=ON -DFEATURE_gui=ON
    run ninja -C "$work/qt" -j"$jobs"
    run ninja -C "$work/qt" install
fi

# The thread library's DLL that the posix-model compiler's programs and Qt need beside them.
cp /usr/x86_64-w64-mingw32/lib/libwinpthread-1.dll "$prefix/bin/"
echo "built in $(( $(date +%s) - start )) s on $jobs job(s), $(du -sm "$prefix" | cut -f1) MB" >>"$prefix/.complete"
echo "toolchain: $(cat "$prefix/.complete")" >&2
echo "$prefix"
