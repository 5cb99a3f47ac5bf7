#!/usr/bin/env bash
# Checks every tracked C++ file (*.cpp, *.h, *.cc, *.hpp) against the repository's .clang-format
# and fails with the list of files that clang-format would change. Works on its own too:
#
#   scripts/check-format.sh          list the files that are not formatted (exit 1 if any)
#   scripts/check-format.sh --fix    format them in place
#
# Nothing generated or third-party is tracked; build folders are git-ignored.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$top"
clang_format=${CLANG_FORMAT:-clang-format}
if ! command -v "$clang_format" >/dev/null; then
    echo "check-format: $clang_format not found (scripts/bootstrap.sh installs it)" >&2
    exit 2
fi

if git rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    mapfile -d '' listed < <(git ls-files -z -- '*.cpp' '*.h' '*.cc' '*.hpp')
else
    mapfile -d '' listed < <(find . -mindepth 1 \( -name '.*' -o -name 'build*' \) -prune -o -type f \
        \( -name '*.cpp' -o -name '*.h' -o -name '*.cc' -o -name '*.hpp' \) -print0)
fi
files=()
for f in "${listed[@]}"; do
    [[ -f $f ]] && files+=("$f") # skips files deleted in the working tree
done
if [[ ${#files[@]} -eq 0 ]]; then
    echo "check-format: no C++ files found under $top" >&2
    exit 2
fi

if [[ ${1:-} == --fix ]]; then
    printf '%s\0' "${files[@]}" | xargs -0 "$clang_format" --style=file -i
    exit 0
fi

mapfile -t unformatted < <(printf '%s\0' "${files[@]}" |
    xargs -0 -n 8 -P "$(nproc)" sh -c 'for f; do
        "$0" --style=file --dry-run --Werror "$f" >/dev/null 2>&1 || echo "$f"
    done' "$clang_format" | sort)
if [[ ${#unformatted[@]} -gt 0 ]]; then
    echo "check-format: ${#unformatted[@]} file(s) not formatted by .clang-format" \
        "(scripts/check-format.sh --fix formats them):"
    printf '  %s\n' "${unformatted[@]}"
    exit 1
fi
echo "check-format: ${#files[@]} C++ files formatted"
