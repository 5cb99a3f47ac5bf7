#!/usr/bin/env bash
# Fetches and unpacks a Debian source package (with Debian's patches applied) into a folder,
# through an apt configuration of this script's own: the system's sources stay untouched.
#   fetch-source.sh PACKAGE VERSION DEST
# Leaves DEST/PACKAGE-UPSTREAMVERSION; does nothing when that folder is there already.
set -euo pipefail
package=$1 version=$2 dest=$3

mkdir -p "$dest"
upstream=${version#*:}
upstream=${upstream%-*}
upstream=${upstream%+dfsg*}
if compgen -G "$dest/$package-$upstream*/debian" >/dev/null; then
    exit 0
fi

apt_dir=$dest/apt
mkdir -p "$apt_dir/lists/partial" "$apt_dir/cache/archives/partial"
# The system's own mirror, but as source entries.
suites=$(sed -n 's/^Suites: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
uri=$(sed -n 's/^URIs: *//p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
: "${suites:=bookworm bookworm-updates}" "${uri:=http://deb.debian.org/debian}"
cat >"$apt_dir/sources.list" <<LIST
$(for s in $suites; do echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $uri $s main"; done)
LIST
apt_opts=(-o "Dir::Etc::SourceList=$apt_dir/sources.list" -o "Dir::Etc::SourceParts=/dev/null"
          -o "Dir::State::Lists=$apt_dir/lists" -o "Dir::Cache=$apt_dir/cache"
          -o "APT::Sandbox::User=root" -q)
if [ ! -e "$apt_dir/updated" ]; then
    apt-get "${apt_opts[@]}" update >/dev/null
    touch "$apt_dir/updated"
fi
(cd "$dest" && apt-get "${apt_opts[@]}" source "$package=$version" >/dev/null)
