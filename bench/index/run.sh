#!/usr/bin/env bash
# Times the folder index with file times against `find` on the same tree.
#
# Usage: bench/index/run.sh [TREE] [FILES] [FOLDERS]
#   TREE     where the generated tree lives (default /tmp/pairwell-bench-tree);
#            it is made once and reused while FILES and FOLDERS stay the same
#   FILES    number of files (default 100000)
#   FOLDERS  number of folders (default 1000), ten top folders holding the rest
#
# Both walks run once to warm the caches, then three times; the best time of
# each counts. The target is a ratio (index with times / find) of at most 1.0.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
tree=${1:-/tmp/pairwell-bench-tree}
files=${2:-100000}
folders=${3:-1000}
build=${PAIRWELL_BENCH_BUILD:-$here/../../build-bench-index}

cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$build" --target bench_index >/dev/null

make_tree() {
    rm -rf "$tree"
    mkdir -p "$tree"
    local top=10
    [ "$folders" -lt "$top" ] && top=$folders
    local per_folder=$(((files + folders - 1) / folders))
    local made_folders=0 made_files=0 t s dir
    local extensions=(txt jpg dat gz html)
    for ((t = 0; t < top; t++)); do
        local subs=$(((folders - top) / top))
        [ "$t" -lt $(((folders - top) % top)) ] && subs=$((subs + 1))
        for ((s = -1; s < subs; s++)); do
            if [ "$s" -lt 0 ]; then dir=$(printf '%s/top%02d' "$tree" "$t"); else dir=$(printf '%s/top%02d/sub%04d' "$tree" "$t" "$s"); fi
            mkdir -p "$dir"
            made_folders=$((made_folders + 1))
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

# find: one warm-up run, then the best of three.
time_find() {
    local start end
    start=$(date +%s.%N)
    find "$tree" -printf '%T@ %s %p\n' >/dev/null
    end=$(date +%s.%N)
    awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f\n", b - a }'
}
time_find >/dev/null
best_find=
for run in 1 2 3; do
    t=$(time_find)
    if [ -z "$best_find" ] || awk -v a="$t" -v b="$best_find" 'BEGIN { exit !(a < b) }'; then best_find=$t; fi
done

report=$("$build/bench_index" "$tree" 3)
echo "$report"
best_index=$(echo "$report" | awk '$1 == "seconds" { print $2 }')
printf 'find_seconds %.4f\n' "$best_find"
awk -v a="$best_index" -v b="$best_find" 'BEGIN { printf "ratio %.3f\n", a / b }'
