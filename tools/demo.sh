#!/bin/bash
# The demo: builds the updater and the packer, packs a sample update, sets up
# an installed game in a private Wine prefix and runs the updater on it.
#   bash tools/demo.sh [--headless]
# With a working $DISPLAY the real boxes appear there and you answer them.
# Without one (or with --headless) they appear on a private Xvfb display,
# where the end-to-end driver answers Yes and OK and saves a picture of each.
# Everything goes to build/demo/.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
jobs=${JOBS:-2}

headless=0
[ "${1:-}" = "--headless" ] && headless=1

bash tools/install-deps.sh

echo "=== building the updater (windows) and the packer (host)"
cmake --preset windows >/dev/null
cmake --build --preset windows -j "$jobs" --target orvale_updater updater_e2e_test
cmake --preset host >/dev/null
cmake --build --preset host -j "$jobs" --target packer
updater=$top/build/windows/app/orvale_updater.exe
driver=$top/build/windows/tests/updater_e2e_test.exe
packer=$top/build/host/tools/packer

demo=$top/build/demo
wine_root=$demo/wine
entries=$demo/entries
game=$demo/game
shots=$demo/shots
stop_wine() { bash cmake/wine-run.sh --root "$wine_root" --stop || true; }
trap stop_wine EXIT
rm -rf "$entries" "$game" "$shots" "$demo/setup.exe"
mkdir -p "$entries" "$game" "$shots"

echo "=== the sample update: three archives, packed into setup.exe"
head -c 4501 /dev/urandom > "$entries/data1.arc"
head -c 96135 /dev/urandom > "$entries/data2.arc"
head -c 1233746 /dev/urandom > "$entries/データ.arc"
"$packer" pack -o "$demo/setup.exe" "$updater" "$entries/data1.arc" "$entries/data2.arc" "$entries/データ.arc"
"$packer" list "$demo/setup.exe"
echo "updater $(stat -c %s "$updater") bytes, setup.exe $(stat -c %s "$demo/setup.exe") bytes"

echo "=== the installed game: $game"
printf 'an older data1.arc\n' > "$game/data1.arc"
printf 'MZ (the game itself)\n' > "$game/orvale.exe"
printf 'Orvale\n' > "$game/readme.txt"
printf 'orvale.exe\ndata1.arc\nreadme.txt\n\0' > "$game/uninst.lst"
cp "$game/uninst.lst" "$demo/uninst.lst.before"
# Wine runs as its unprivileged user: it owns what the updater writes to.
if [ "$(id -u)" = 0 ]; then chown -R 65534:65534 "$game" "$shots"; fi
chmod -R a+rX "$demo"

show_list() {  # the lines of an uninstall list (code page 932, shown as UTF-8), and its final NUL
  tr -d '\0' < "$1" | iconv -f CP932 -t UTF-8 | sed 's/^/    /'
  if [ "$(tail -c 1 "$1" | od -An -tx1 | tr -d ' ')" = 00 ]; then echo "    (then one NUL byte)"; fi
}
echo "uninst.lst before:"
show_list "$game/uninst.lst"

mode=headless
if [ "$headless" = 0 ] && [ -n "${DISPLAY:-}" ] && timeout 10 xwd -root -silent >/dev/null 2>&1; then
  mode=display
fi
log=$demo/run.log
if [ "$mode" = display ]; then
  echo "=== running the updater on your display $DISPLAY: answer its boxes there"
  bash cmake/wine-run.sh --root "$wine_root" --display "$driver" --demo "$demo/setup.exe" \
    --folder "$game" --shots "$shots" --watch | tee "$log"
else
  echo "=== running the updater on a private Xvfb display; the driver answers Yes and OK"
  bash cmake/wine-run.sh --root "$wine_root" "$driver" --demo "$demo/setup.exe" \
    --folder "$game" --shots "$shots" | tee "$log"
fi

echo "=== pictures of the boxes"
found=0
for bmp in "$shots"/*.bmp; do
  [ -e "$bmp" ] || continue
  /usr/bin/convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
  echo "  ${bmp%.bmp}.png"
  found=1
done
[ "$found" = 1 ] || echo "  none"

echo "=== the outcome"
code=$(sed -n 's/^exit code: \(0x[0-9A-F]*\).*/\1/p' "$log" | tail -n 1)
case "$code" in
  0x00000000) meaning="0: every entry written and the uninstall list updated" ;;
  0xFFFFFFFF) meaning="-1: the game is not installed" ;;
  0xFFFFFFFE) meaning="-2: the game, its launcher or its uninstaller is running" ;;
  0xFFFFFFFD) meaning="-3: the update was declined" ;;
  0xFFFFFFFC) meaning="-4: another copy of the updater is running" ;;
  0x80000001) meaning="the package is damaged" ;;
  0x80000002) meaning="the package announces more than 16 entries" ;;
  0x80000003) meaning="a file in the install folder cannot be written" ;;
  0x80000004) meaning="every file written, but uninst.lst could not be updated" ;;
  "") meaning="none: the updater did not end normally" ;;
  *) meaning="not one of the updater's codes" ;;
esac
echo "exit code ${code:-?}: $meaning"
echo "files in the install folder:"
for file in "$game"/*; do
  name=$(basename "$file")
  note=""
  if [ -f "$entries/$name" ]; then
    if cmp -s "$file" "$entries/$name"; then note="(written: identical to the package entry)"; else note="(differs from the package entry)"; fi
  fi
  printf '  %-12s %9s bytes %s\n' "$name" "$(stat -c %s "$file")" "$note"
done
echo "uninst.lst before:"
show_list "$demo/uninst.lst.before"
echo "uninst.lst after:"
show_list "$game/uninst.lst"
echo "everything is in $demo"
