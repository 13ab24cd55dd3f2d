#!/usr/bin/env bash
# Times `quellmark-cli crawl --quarantine --threads N` for several N on one tree, by hand (never
# by the test suite), to choose the default thread count. With "cold", the page cache is
# dropped before every run (as root).
#
#   bench/crawl-threads.sh warm|cold TREE [ROUNDS] [BUILD]
#
# Prints the median and the fastest run in milliseconds for each thread count.
set -euo pipefail
mode=${1:?warm or cold}; tree=${2:?tree}; rounds=${3:-5}; build=${4:-build}
cli="$build/bin/quellmark-cli"
counts=(1 2 3 4 6 8 12 16)
declare -A times
for ((round = 0; round < rounds; ++round)); do
    for n in "${counts[@]}"; do
        if [[ $mode == cold ]]; then sync; echo 3 > /proc/sys/vm/drop_caches; fi
        start=$(date +%s%N)
        "$cli" crawl --quarantine --threads "$n" "$tree" > /dev/null
        times[$n]+="$(( ($(date +%s%N) - start) / 1000000 )) "
    done
done
for n in "${counts[@]}"; do
    read -ra runs <<< "${times[$n]}"
    sorted=($(printf '%s\n' "${runs[@]}" | sort -n))
    echo "threads $n: median ${sorted[$(( ${#sorted[@]} / 2 ))]} ms, fastest ${sorted[0]} ms"
done
