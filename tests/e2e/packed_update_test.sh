#!/bin/bash
# A package made by the packer from real files (one over 1 MB, one with a
# Japanese name) installs byte-identical files under Wine.
#   packed_update_test.sh WINE_RUN WINE_ROOT DRIVER.exe UPDATER.exe PACKER WORKDIR
# Exits 77 (skipped) when the host-built packer is missing.
set -euo pipefail
wine_run=$1 wine_root=$2 driver=$3 updater=$4 packer=$5 work=$6

if [ ! -x "$packer" ]; then
  echo "packed_update_test: no packer at $packer; build the host configuration first" \
       "(cmake --preset host && cmake --build --preset host --target packer)"
  exit 77
fi

rm -rf "$work"
mkdir -p "$work/entries"
# Random bytes: any slip of an offset or a length shows.
head -c 4501 /dev/urandom > "$work/entries/data1.arc"
head -c 96135 /dev/urandom > "$work/entries/data2.arc"
head -c 1233746 /dev/urandom > "$work/entries/データ.arc"
: > "$work/entries/empty.arc"

"$packer" pack -o "$work/setup.exe" "$updater" \
  "$work/entries/data1.arc" "$work/entries/data2.arc" "$work/entries/データ.arc" "$work/entries/empty.arc"
"$packer" check "$work/setup.exe"
# The driver runs as Wine's unprivileged user: it reads these.
chmod -R a+rX "$work"
exec bash "$wine_run" --root "$wine_root" "$driver" --packed "$work/setup.exe" --expect "$work/entries"
