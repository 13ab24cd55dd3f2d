#!/usr/bin/env bash
# find-apps.sh BUILD_DIR: times quellmark-find-apps on this machine and on a synthetic
# volume of bundles shaped like a desktop's /Applications. Target: well under a second.
set -euo pipefail
tool=$(cd "${1:-build}" && pwd)/bin/quellmark-find-apps
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# 300 bundles of 40 folders each (12,000 folders), every tenth with a nested helper bundle.
for i in $(seq 1 300); do
    app=$work/vol/Applications/App$i.app/Contents
    for j in $(seq 1 8); do mkdir -p "$app/Resources/r$j/a/b/c" "$app/Frameworks/f$j.framework"; done
    if (( i % 10 == 0 )); then mkdir -p "$app/Library/LoginItems/Helper$i.app/Contents"; fi
done

echo "listed on this machine: $("$tool" | wc -l); on the synthetic volume: $(QUELLMARK_APP_ROOTS=$work/vol "$tool" | wc -l)"
if command -v hyperfine >/dev/null; then
    hyperfine --warmup 3 -N "$tool" "env QUELLMARK_APP_ROOTS=$work/vol $tool"
else
    time (for _ in $(seq 1 100); do "$tool" >/dev/null; done)
    time (for _ in $(seq 1 100); do QUELLMARK_APP_ROOTS=$work/vol "$tool" >/dev/null; done)
fi
