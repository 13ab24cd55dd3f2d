#!/usr/bin/env bash
# package.sh [BUILD_DIR]: installs what is missing, makes a release build without the tests
# in BUILD_DIR (default build-package) with Debian's hardening flags, packs it as
# quellmark_VERSION_ARCH.deb there and checks it with lintian (errors fail).
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$top/build-package}
"$top/scripts/install-deps.sh"
# Fortified functions, stack protector, PIE, RELRO and immediate binding, as Debian builds them.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
cppflags=$(dpkg-buildflags --get CPPFLAGS)
cxxflags=$(dpkg-buildflags --get CXXFLAGS)
ldflags=$(dpkg-buildflags --get LDFLAGS)
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELLMARK_BUILD_TESTS=OFF \
    -DCMAKE_CXX_FLAGS="$cppflags $cxxflags" \
    -DCMAKE_EXE_LINKER_FLAGS="$ldflags"
cmake --build "$dir"
rm -f "$dir"/quellmark_*.deb
(cd "$dir" && cpack -G DEB)
deb=$(ls "$dir"/quellmark_*.deb)
lintian --fail-on error "$deb"
echo "$deb"
