#!/usr/bin/env bash
# Installs what is missing, builds, and starts Quellmark. Arguments go to the app.
set -euo pipefail
top=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
"$top/scripts/install-deps.sh"
"$top/scripts/build.sh" "$top/build"
if [[ -z ${DISPLAY:-}${WAYLAND_DISPLAY:-} && -z ${QT_QPA_PLATFORM:-} ]]; then
    echo "No display found (DISPLAY and WAYLAND_DISPLAY are unset); starting under xvfb-run." >&2
    exec xvfb-run -a "$top/build/bin/quellmark" "$@"
fi
exec "$top/build/bin/quellmark" "$@"
