#!/usr/bin/env bash
# build.sh BUILD_DIR [cmake options...]: configures (once) and builds.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
dir=$1; shift
if [[ ! -f $dir/build.ninja ]]; then
    cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@"
fi
cmake --build "$dir"
