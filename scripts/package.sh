#!/usr/bin/env bash
# package.sh [BUILD_DIR]: installs what is missing, makes a release build without the tests
# in BUILD_DIR (default build-package) and packs it as quellmark_VERSION_ARCH.deb there.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=${1:-$top/build-package}
"$top/scripts/install-deps.sh"
cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQUELLMARK_BUILD_TESTS=OFF
cmake --build "$dir"
(cd "$dir" && cpack -G DEB)
ls "$dir"/quellmark_*.deb
