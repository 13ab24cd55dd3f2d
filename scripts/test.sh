#!/usr/bin/env bash
# Installs what is missing, then builds and runs the whole test suite twice:
# once as built normally, once under AddressSanitizer and UndefinedBehaviorSanitizer.
set -uo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/install-deps.sh" || exit 1

jobs=$(nproc)
status=0
run_suite() {
    local dir=$1; shift
    echo "== $dir =="
    "$top/scripts/build.sh" "$dir" "$@" || return 1
    ctest --test-dir "$dir" --output-on-failure -j "$jobs"
}
run_suite "$top/build" || status=1
run_suite "$top/build-sanitize" -DQUELLMARK_SANITIZE=ON || status=1
if ((status == 0)); then echo "Both test runs passed."; else echo "A test run failed." >&2; fi
exit $status
