#!/bin/bash
# The updater's start under Wine: time from CreateProcess to its question,
# against a program that only shows a message box, measured in the same run by
# a Win32 timing program (bench/wine_timer.cpp) inside one Wine session:
#   bash bench/wine_start.sh [REPS]
# Needs the Windows build (build/windows/app/orvale_updater.exe). Uses a Wine
# prefix of its own (build/bench/wine-root), since it writes the install
# folder into the registry; the first run creates it, which takes a while.
set -euo pipefail
cd "$(dirname "$0")/.."
reps=${1:-15}
exe=build/windows/app/orvale_updater.exe
echo "Start under Wine: CreateProcess to the first message box (median and best of $reps, ms)"
if [ ! -f "$exe" ]; then
  echo "skipped: $exe not built (cmake --preset windows && cmake --build --preset windows)"
  exit 0
fi
out=build/bench/wine
root=build/bench/wine-root
mkdir -p "$out"
cxx=i686-w64-mingw32-g++-posix
$cxx -O2 -Wall -Wextra -static -s -o "$out/wine_timer.exe" bench/wine_timer.cpp
$cxx -Os -Wall -Wextra -static -s -mwindows -o "$out/message_box_only.exe" bench/message_box_only.cpp
cp "$exe" "$out/orvale_updater.exe"
chmod a+r "$out"/*.exe

winpath() { echo "Z:$(cd "$(dirname "$1")" && pwd | tr / '\\')\\$(basename "$1")"; }
stop() { bash cmake/wine-run.sh --root "$root" --stop >/dev/null 2>&1 || true; }
trap stop EXIT
result=$(bash cmake/wine-run.sh --root "$root" "$out/wine_timer.exe" "$reps" 'C:\Orvale' \
  "$(winpath "$out/message_box_only.exe")" "$(winpath "$out/orvale_updater.exe")" | tr -d '\r')
base=$(grep -i 'message_box_only' <<<"$result" | awk '{ print $2, $3 }')
updater=$(grep -i 'orvale_updater' <<<"$result" | awk '{ print $2, $3 }')
[ -n "$base" ] && [ -n "$updater" ] || { echo "$result"; echo "bench: no timings" >&2; exit 1; }
set -- $base $updater
printf '%-26s %9s %9s\n' "" median best
printf '%-26s %9.1f %9.1f\n' "message box only" "$1" "$2"
printf '%-26s %9.1f %9.1f\n' "orvale_updater.exe" "$3" "$4"
printf '%-26s %9.2f %9.2f\n' "ratio" "$(awk -v a="$3" -v b="$1" 'BEGIN { print a / b }')" \
  "$(awk -v a="$4" -v b="$2" 'BEGIN { print a / b }')"
