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

usage() { sed -n '2,10p' "$0" | sed 's/^# \{0,1\}//'; }
case "${1:-}" in
-h | --help) usage; exit 0 ;;
'' | *[!0-9]*) [ -z "${1:-}" ] || { usage >&2; exit 2; } ;;
esac
root=$(cd "$(dirname "$0")/.." && pwd)
rounds=${1:-5}
[ "$rounds" -ge 1 ] || { usage >&2; exit 2; }
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

# Sizes: a few large files (a third of the bytes) and many small and middle-sized ones, drawn from a seeded
# generator so that every run builds the same tree.
RANDOM=20261206
total=$((megabytes * 1024 * 1024))
large_count=$((files / 100))
large_size=$((total / 3 / large_count))
rest=$((total - large_count * large_size))
small_count=$((files - large_count))
sizes=()
weights=()
weight_sum=0
for ((i = 0; i < small_count; i++)); do
    w=$((RANDOM % 1000 + 1))
    weights+=("$w")
    weight_sum=$((weight_sum + w))
done
for ((i = 0; i < small_count; i++)); do
    sizes+=($((rest / weight_sum * weights[i])))
done
for ((i = 0; i < large_count; i++)); do
    sizes+=("$large_size")
done

echo "generating $files files, $megabytes MB in $work ..."
for ((i = 0; i < files; i++)); do
    dir="$source_tree/Pack $((i % 7))/Sub folder $((i % 5))"
    ((i % 3 == 0)) && dir="$dir/deeper level $((i % 4))"
    ((i % 11 == 0)) && dir="$source_tree"
    mkdir -p "$dir"
    iv=$(printf '%032x' "$i")
    openssl enc -aes-128-ctr -nosalt -K 000102030405060708090a0b0c0d0e0f -iv "$iv" -in /dev/zero 2>/dev/null |
        head -c "${sizes[i]}" >"$dir/file $i.bin" || true
done
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
median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

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

orvel_median=$(printf '%s\n' "${orvel_times[@]}" | median)
cp_median=$(printf '%s\n' "${cp_times[@]}" | median)
printf 'tree: %d files, %d MB; %d rounds\n' "$actual_files" "$((actual_bytes / 1048576))" "$rounds"
printf 'median OrvelFileCopyManager: %.3f s\n' "$orvel_median"
printf 'median cp -r + sync:         %.3f s\n' "$cp_median"
awk -v a="$orvel_median" -v b="$cp_median" 'BEGIN { printf "ratio: %.2f (goal <= 1.10, acceptance 1.30)\n", a / b }'
