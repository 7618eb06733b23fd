#!/usr/bin/env bash
# Copy benchmark: installs an update tree over an existing installation of the same tree with
# OrvelFileCopyManager and with `cp -r` followed by `sync` (the helper flushes what it installed before it reports
# success, so the comparison must too), alternating, and prints the medians and their ratio.
#
#   bench/copy.sh [rounds]        (default 5; ORVEL_BENCH_FILES / ORVEL_BENCH_MB change the tree,
#                                  ORVEL_COPY_MANAGER another build of the helper)
#
# The tree is seeded and incompressible (AES-CTR keystream): ~1,200 files, ~600 MB, nested folders, names with
# blanks. Everything lives in one folder under /tmp that is removed at the end.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=../scripts/lib.sh
source "$root/scripts/lib.sh"
case "${1:-}" in -h | --help) orvel_usage; exit 0 ;; esac
if [[ $# -gt 1 || ! ${1:-5} =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: bench/copy.sh [rounds]   (rounds: a positive number; --help for more)" >&2
    exit 2
fi
rounds=${1:-5}
files=${ORVEL_BENCH_FILES:-1200}
megabytes=${ORVEL_BENCH_MB:-600}
program=${ORVEL_COPY_MANAGER:-$root/build/bin/OrvelFileCopyManager}

if [ ! -x "$program" ]; then
    echo "building OrvelFileCopyManager ..."
    cmake -S "$root" -B "$root/build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$root/build" -j "$(nproc)" --target OrvelFileCopyManager >/dev/null
fi

work=$(mktemp -d /tmp/orvel-bench-copy.XXXXXX)
trap 'rm -rf "$work"' EXIT
source_tree="$work/download tree/App"
mkdir -p "$source_tree"

echo "generating $files files, $megabytes MB in $work ..."
orvel_tree_sizes "$files" "$megabytes" 20261206 | orvel_seeded_files "$source_tree" >/dev/null
echo '{"fileList": []}' >"$source_tree/liveupdate.json"
actual_bytes=$(du -sb "$source_tree" | cut -f1)
actual_files=$(find "$source_tree" -type f | wc -l)

orvel_install="$work/orvel install/App"
cp_install="$work/cp install/App"
mkdir -p "$orvel_install" "$cp_install"
cp -r "$source_tree/." "$orvel_install/"
cp -r "$source_tree/." "$cp_install/"

now() { date +%s.%N; }
elapsed() { awk -v a="$1" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'; }

orvel_times=()
cp_times=()
for ((r = 1; r <= rounds; r++)); do
    # Dirty pages of the previous run must not be written back on the next run's clock.
    sync
    start=$(now)
    "$program" "$source_tree" "$orvel_install"
    orvel_times+=("$(elapsed "$start")")
    sync
    start=$(now)
    cp -r "$source_tree/." "$cp_install/"
    sync
    cp_times+=("$(elapsed "$start")")
    printf 'round %d: OrvelFileCopyManager %.3f s, cp -r + sync %.3f s\n' "$r" "${orvel_times[-1]}" "${cp_times[-1]}"
done

diff -r "$source_tree" "$orvel_install" >/dev/null || { echo "installed tree differs from the source" >&2; exit 1; }

helper_median=$(orvel_median "${orvel_times[@]}")
cp_median=$(orvel_median "${cp_times[@]}")
printf 'tree: %d files, %d MB; %d rounds\n' "$actual_files" "$((actual_bytes / 1048576))" "$rounds"
printf 'median OrvelFileCopyManager: %.3f s\n' "$helper_median"
printf 'median cp -r + sync:         %.3f s\n' "$cp_median"
awk -v a="$helper_median" -v b="$cp_median" 'BEGIN { printf "ratio: %.2f (goal <= 1.10, acceptance 1.30)\n", a / b }'
