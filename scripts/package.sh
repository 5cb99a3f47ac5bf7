#!/usr/bin/env bash
# Builds the Debian package of glimmerly and glimmerly-service from a configured build folder:
#   scripts/package.sh [<build folder>]   (default: build/, or $GLIMMERLY_BUILD_DIR)
# The package lands in <build folder>/package/; its path is the last line of the output.
# Its dependencies come from the programs' shared libraries (dpkg-shlibdeps).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$(cd "${1:-${GLIMMERLY_BUILD_DIR:-$top/build}}" && pwd)
[ -f "$build/CPackConfig.cmake" ] || { echo "package.sh: $build is not a configured build folder" >&2; exit 1; }

cmake --build "$build" --target glimmerly glimmerly-service glimmerly_manual_pages glimmerly_changelog >/dev/null
rm -rf "$build/package"
# The programs are built already; cpack only installs into its staging folder and packs.
(cd "$build" && cpack -G DEB -B "$build/package" -D CPACK_CMAKE_GENERATOR=Ninja >/dev/null)
ls "$build"/package/*.deb
