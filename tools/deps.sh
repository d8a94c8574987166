#!/usr/bin/env bash
# Installs what building (and, with "test", testing) needs from Debian's archive; skips what is there.
set -euo pipefail
build_pkgs=(cmake ninja-build g++ pkg-config qt6-base-dev qt6-base-dev-tools qt6-translations-l10n libgl-dev libxcb1-dev fonts-dejavu-core libcanberra-dev libcanberra-pulse)
# Making the package needs dpkg-shlibdeps (dpkg-dev) and file; testing it needs lintian and acl besides.
package_pkgs=(dpkg-dev file)
test_pkgs=(xvfb xauth openbox trayer xdotool xterm x11-utils imagemagick iproute2 procps python3 pulseaudio pulseaudio-utils sox nftables lintian acl "${package_pkgs[@]}")
pkgs=("${build_pkgs[@]}")
[ "${1:-}" = test ] && pkgs+=("${test_pkgs[@]}")
[ "${1:-}" = package ] && pkgs+=("${package_pkgs[@]}")
missing=()
for p in "${pkgs[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get -o DPkg::Lock::Timeout=600 update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get -o DPkg::Lock::Timeout=600 install -y -q --no-install-recommends "${missing[@]}"
