#!/usr/bin/env bash
# Times the folder index with file times against `find` on the same tree.
#
# Usage: bench/index/run.sh [TREE] [FILES] [FOLDERS]
#   TREE     where the generated tree lives (default /tmp/pairwell-bench-tree);
#            it is made once and reused while FILES and FOLDERS stay the same
#            (TREE.bench-shape records them); an existing folder that this
#            script did not make is never touched
#   FILES    number of files (default 100000)
#   FOLDERS  number of folders (default 1000), ten top folders holding the rest
#
# Every walk runs once to warm the caches, then three times, find and the index
# taking turns; the best time of each counts. The target is a ratio (index with
# file times / find) of at most 1.0. Needs cmake, ninja, g++ and GNU find.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=${1:-/tmp/pairwell-bench-tree}
files=${2:-100000}
folders=${3:-1000}
build=${PAIRWELL_BENCH_BUILD:-$here/../../build}

cmake -S "$here/../.." -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_index >/dev/null

make_tree() {
    if [ -e "$tree" ] && [ ! -e "$tree.bench-shape" ]; then
        echo "$tree exists and was not made by this script; give another folder" >&2
        exit 1
    fi
    rm -rf "$tree" "$tree.bench-shape"
    mkdir -p "$tree"
    local top=10
    [ "$folders" -lt "$top" ] && top=$folders
    local per_folder=$(((files + folders - 1) / folders))
    local made_files=0 t s dir
    local extensions=(txt jpg dat gz html)
    for ((t = 0; t < top; t++)); do
        local subs=$(((folders - top) / top))
        [ "$t" -lt $(((folders - top) % top)) ] && subs=$((subs + 1))
        for ((s = -1; s < subs; s++)); do
            if [ "$s" -lt 0 ]; then dir=$(printf '%s/top%02d' "$tree" "$t"); else dir=$(printf '%s/top%02d/sub%04d' "$tree" "$t" "$s"); fi
            mkdir -p "$dir"
            local count=$per_folder
            [ $((made_files + count)) -gt "$files" ] && count=$((files - made_files))
            if [ "$count" -gt 0 ]; then
                (cd "$dir" && for ((i = 0; i < count; i++)); do printf 'file_%05d.%s\n' "$i" "${extensions[i % 5]}"; done | xargs touch)
                made_files=$((made_files + count))
            fi
        done
    done
    echo "$files $folders" >"$tree.bench-shape"
}

if [ "$(cat "$tree.bench-shape" 2>/dev/null)" != "$files $folders" ]; then
    echo "making $files files in $folders folders under $tree ..."
    make_tree
fi

# Seconds of one find walk over the tree.
time_find() {
    local start end
    start=$(date +%s.%N)
    find "$tree" -printf '%T@ %s %p\n' >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}

min() { awk -v a="$1" -v b="$2" 'BEGIN { print (b == "" || a < b) ? a : b }'; }

# The index with each file's time read in turn (one stat each), with
# time and size read in turn (ReadFileFacts, as the check does), and with the
# facts read on several threads (ReadFileFactsOfAll after the walk). The find
# walk and the index walks take turns, so a busy machine slows both alike.
modes=(time facts walk-facts)
time_find >/dev/null # warm-up; bench_index warms up on its own
best_find=
declare -A best report
for _ in 1 2 3; do
    best_find=$(min "$(time_find)" "$best_find")
    for mode in "${modes[@]}"; do
        out=$("$build/bin/bench_index" "$tree" 1 --mode "$mode")
        seconds=$(echo "$out" | awk '$1 == "seconds" { print $2 }')
        if [ -z "${best[$mode]:-}" ] || [ "$(min "$seconds" "${best[$mode]}")" = "$seconds" ]; then
            best[$mode]=$seconds
            report[$mode]=$out
        fi
    done
done

printf 'find_seconds %.4f\n' "$best_find"
for mode in "${modes[@]}"; do
    echo "== index, mode $mode"
    echo "${report[$mode]}" | grep -v '^checksum'
    awk -v a="${best[$mode]}" -v b="$best_find" 'BEGIN { printf "ratio %.3f (index / find)\n", a / b }'
done
