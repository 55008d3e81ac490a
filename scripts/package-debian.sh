#!/usr/bin/env bash
# Builds the Linux programs for release into build-deb/ (Debian's flags from
# dpkg-buildflags: -O2 and hardening; no tests), or into the tree
# KESTREL_PACKAGE_BUILD_DIR names (the test command's build/, built with the
# same flags), and packs them with cpack into
# dist/kestrel-decoder_<version>_<arch>.deb (version: 1.83 and the number of
# commits, or KESTREL_BUILD_NUMBER from the environment; see CMakeLists.txt),
# replacing an older one there; the package's dependencies come from
# dpkg-shlibdeps. Prints the package's path last.
set -euo pipefail
cd "$(dirname "$0")/.."
. scripts/lib.sh

need_packages "${NATIVE_PACKAGES[@]}" dpkg-dev

version=$(sed -n 's/^project(kestrel_decoder VERSION \([0-9.]*\) .*/\1/p' CMakeLists.txt)
# One version everywhere a user reads it.
changelog=$(dpkg-parsechangelog -l packaging/changelog -S Version)
[ "$changelog" = "$version" ] || { echo "packaging/changelog is at $changelog, the project at $version"; exit 1; }
grep -q "<release version=\"$version\"" packaging/*.metainfo.xml ||
  { echo "packaging/*.metainfo.xml lists no release $version"; exit 1; }

dir=${KESTREL_PACKAGE_BUILD_DIR:-build-deb}
mapfile -t flags < <(deb_build_flags)
# A tree of its own builds no tests; a shared one keeps them.
[ -n "${KESTREL_PACKAGE_BUILD_DIR:-}" ] || flags+=(-DKESTREL_BUILD_TESTS=OFF)
# Only the programs are installed: the package does not build the rest.
cmake -S . -B "$dir" "${flags[@]}" -DKESTREL_INSTALL_LICENSE_TEXT=OFF -DCMAKE_SKIP_INSTALL_ALL_DEPENDENCY=ON >/dev/null
cmake --build "$dir" -j"$(jobs)" --target kestrel-decoder kestrel-redecode kestrel-trends kestrel-tnc-sim

rm -rf "$dir/cpack"
(cd "$dir" && cpack -G DEB -B "$PWD/cpack" >/dev/null)
mkdir -p dist
# One package in dist/, so that ./dist/kestrel-decoder_*_amd64.deb names it.
rm -f dist/kestrel-decoder_*.deb
deb=$(ls "$dir"/cpack/*.deb)
cp "$deb" dist/
out="$PWD/dist/$(basename "$deb")"
dpkg-deb --info "$out" | sed -n '/Package:/,$p'
echo "$out"
