#!/bin/bash
# Benchmarks, each against baselines measured in the same run:
#   bash bench/run.sh [--quick] [--no-wine]
# Builds a release configuration of its own (build/bench: g++ -O2, no
# sanitizers, the host stand-in), then prints one table per figure. --quick
# leaves out the 64 MiB entries and repeats less. See bench/README.md.
set -euo pipefail
cd "$(dirname "$0")/.."

quick=0
wine=1
for arg in "$@"; do
  case "$arg" in
    --quick) quick=1 ;;
    --no-wine) wine=0 ;;
    *) echo "usage: bash bench/run.sh [--quick] [--no-wine]" >&2; exit 2 ;;
  esac
done

build=build/bench
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release "-DCMAKE_CXX_FLAGS_RELEASE=-O2 -DNDEBUG" \
  -DCMAKE_CXX_COMPILER=g++ -DCMAKE_C_COMPILER=gcc -DUPDATER_BENCH=ON -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j2 --target bench_tool bench_copy_whole bench_measure >/dev/null
bin=$build/bench
work=$build/work
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

# measure COMMAND...: "own_seconds process_seconds peak_rss_kib", where
# own_seconds is what the command prints of its own work (for cp, which
# prints nothing, the process's time); fails when the command does.
measure() {
  local output own
  output=$("$bin/bench_measure" "$@")
  set -- $(tail -n 1 <<<"$output")
  [ "$3" = 0 ] || { echo "bench: command failed with status $3" >&2; exit 1; }
  own=$1
  [ "$(wc -l <<<"$output")" -gt 1 ] && own=$(head -n 1 <<<"$output")
  echo "$own $1 $2"
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }
maximum() { sort -g | tail -n 1; }

# A fresh destination folder holding the uninstall list, with nothing left
# to write back from earlier runs.
fresh_folder() {
  rm -rf "$work/dst"
  mkdir "$work/dst"
  cp "$work/pkg/uninst.lst" "$work/dst/"
  sync
}

idle_rss=$(for _ in 1 2 3; do measure "$bin/bench_tool" idle; done | awk '{ print $3 }' | maximum)

echo "Install: ApplyUpdate of 16 entries into a fresh folder, against copying the same 16 files"
echo "(medians; apply and whole: the work itself, without the process start; cp and apply_proc: whole processes)"
printf '%-7s %4s %9s %9s %6s   %10s %9s %6s   %8s %8s %8s\n' \
  entry reps apply_ms whole_ms ratio apply_proc cp_ms ratio rss_MiB whole_MiB beyond
if [ "$quick" = 1 ]; then
  sizes=(1024 65536 1048576 16777216); reps=(9 9 7 5)
else
  sizes=(1024 65536 1048576 16777216 67108864); reps=(21 21 15 7 5)
fi
for i in "${!sizes[@]}"; do
  size=${sizes[$i]}
  n=${reps[$i]}
  rm -rf "$work/pkg"
  "$bin/bench_tool" make "$work/pkg" 16 "$size"
  files=("$work"/pkg/src/*)
  : >"$work/apply" && : >"$work/whole" && : >"$work/cp"
  for rep in $(seq "$n"); do
    # Rotate the order, so that no method always runs first after the sync.
    for method in $(echo "apply whole cp apply whole" | cut -d' ' -f$((rep % 3 + 1))-$((rep % 3 + 3))); do
      fresh_folder
      case $method in
        apply) measure "$bin/bench_tool" apply "$work/pkg/updater.exe" "$work/dst" >>"$work/apply"
               cmp -s "$work/dst/e15.arc" "$work/pkg/src/e15.arc" || { echo "bench: wrong install" >&2; exit 1; } ;;
        whole) measure "$bin/bench_copy_whole" "$work/dst" "${files[@]}" >>"$work/whole" ;;
        cp) measure cp "${files[@]}" "$work/dst/" >>"$work/cp" ;;
      esac
    done
  done
  apply=$(awk '{ print $1 }' "$work/apply" | median)
  apply_proc=$(awk '{ print $2 }' "$work/apply" | median)
  whole=$(awk '{ print $1 }' "$work/whole" | median)
  copy=$(awk '{ print $2 }' "$work/cp" | median)
  rss=$(awk '{ print $3 }' "$work/apply" | maximum)
  whole_rss=$(awk '{ print $3 }' "$work/whole" | maximum)
  awk -v s="$size" -v n="$n" -v a="$apply" -v ap="$apply_proc" -v w="$whole" -v c="$copy" -v r="$rss" \
      -v wr="$whole_rss" -v idle="$idle_rss" 'BEGIN {
    if (s >= 1048576) label = sprintf("%dMiB", s / 1048576); else label = sprintf("%dKiB", s / 1024)
    printf "%-7s %4d %9.2f %9.2f %6.2f   %10.2f %9.2f %6.2f   %8.1f %8.1f %4.0fKiB\n", label, n, a * 1e3, w * 1e3,
           a / w, ap * 1e3, c * 1e3, ap / c, r / 1024, wr / 1024, r - idle - s / 1024 }'
  rm -rf "$work/pkg" "$work/dst"
done
echo "(rss: the updater's peak resident memory, whole: the baseline's; beyond: what the updater holds beyond"
echo " an idle process of its own ($idle_rss KiB) and its largest entry, to stay within about 2 MiB)"

echo
echo "Uninstall list: a list of 1,000,000 bytes and 16 names that it lacks"
mkdir -p "$work/list"
times=$("$bin/bench_tool" list-time "$work/list" 31)
"$bin/bench_tool" list-file "$work/list"
list_rss=$(measure "$bin/bench_tool" list-once "$work/list" | awk '{ print $3 }')
set -- $times
printf '%-28s %10s %10s %12s\n' "" median_ms best_ms rss-idle_KiB
printf '%-28s %10.3f %10.3f %12d\n' "UpdateUninstallList (31x)" "$1" "$2" $((list_rss - idle_rss))
echo "(the call holds one buffer of 1,048,576 bytes whatever the list's size)"

echo
echo "Windows program size against the 65,536-byte budget below the package"
exe=build/windows/app/orvale_updater.exe
if [ -f "$exe" ]; then
  size=$(stat -c %s "$exe")
  printf '%-36s %8d bytes, %6d left (%.1f%% of the budget)\n' "$exe" "$size" $((65536 - size)) \
    "$(awk -v s="$size" 'BEGIN { print s * 100 / 65536 }')"
else
  echo "$exe not built (cmake --preset windows && cmake --build --preset windows)"
fi

if [ "$wine" = 1 ]; then
  echo
  bash bench/wine_start.sh
fi
