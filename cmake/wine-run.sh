#!/bin/bash
# Runs one Windows program under Wine, as ctest's emulator and for the demo:
#   wine-run.sh --root DIR [--display] PROGRAM.exe [ARGS...]
#                                                              run a program
#   wine-run.sh --root DIR --stop                              end Wine and Xvfb
# DIR holds everything of ours: the Wine prefix, its home, the working folders
# and a private Xvfb display, which stay up between runs (a Wine start in a
# running prefix is quick) until --stop. Programs run with the Japanese locale
# (ANSI code page 932) and as an unprivileged user: Wine keeps the read-only
# attribute as missing write permission, which root would ignore.
# --display shows the program on the caller's $DISPLAY instead of the private
# Xvfb (for a person watching the demo).
set -euo pipefail

root=""
caller_display=0
while [ $# -gt 0 ]; do
  case "$1" in
    --root) root=$2; shift 2 ;;
    --display) caller_display=1; shift ;;
    --stop) stop=1; shift ;;
    *) break ;;
  esac
done
[ -n "$root" ] || { echo "wine-run.sh: --root DIR is required" >&2; exit 2; }
mkdir -p "$root"
root=$(cd "$root" && pwd)

user_id=65534
# As root, programs run as the unprivileged user; anybody else runs them as is.
drop_root=0
[ "$(id -u)" = 0 ] && drop_root=1
prefix=$root/prefix
home=$root/home
display_file=$root/xvfb.display
export WINEPREFIX=$prefix
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEDEBUG=${WINEDEBUG:--all}
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8

as_user() {
  if [ "$drop_root" = 0 ]; then
    env HOME="$home" "$@"
  else
    setpriv --reuid=$user_id --regid=$user_id --clear-groups env HOME="$home" USER=nobody "$@"
  fi
}

if [ "${stop:-0}" = 1 ]; then
  as_user wineserver -k 2>/dev/null || true
  if [ -f "$root/xvfb.pid" ]; then kill "$(cat "$root/xvfb.pid")" 2>/dev/null || true; rm -f "$root/xvfb.pid"; fi
  exit 0
fi

program=$1
shift
[ -f "$program" ] || { echo "wine-run.sh: no program $program" >&2; exit 2; }
program=$(cd "$(dirname "$program")" && pwd)/$(basename "$program")

# The unprivileged user must reach the program: open the folders above it.
if [ "$drop_root" = 1 ]; then
  dir=$(dirname "$program")
  while [ "$dir" != / ]; do
    [ "$(stat -c %a "$dir" | cut -c3)" -ge 5 ] 2>/dev/null || chmod o+rx "$dir"
    dir=$(dirname "$dir")
  done
fi

start_display() {
  if [ -f "$root/xvfb.pid" ] && kill -0 "$(cat "$root/xvfb.pid")" 2>/dev/null; then return; fi
  local number
  for number in $(seq 90 140); do
    [ -e "/tmp/.X$number-lock" ] || [ -e "/tmp/.X11-unix/X$number" ] && continue
    Xvfb ":$number" -ac -nolisten tcp -screen 0 1280x1024x24 >/dev/null 2>&1 &
    echo $! > "$root/xvfb.pid"
    for _ in $(seq 50); do
      [ -e "/tmp/.X11-unix/X$number" ] && { echo ":$number" > "$display_file"; return; }
      sleep 0.1
    done
  done
  echo "wine-run.sh: cannot start Xvfb" >&2
  exit 1
}

prepare_prefix() {
  if [ -f "$prefix/.ready" ]; then return; fi
  mkdir -p "$home" "$prefix" "$root/work"
  [ "$drop_root" = 1 ] && chown "$user_id:$user_id" "$home" "$prefix" "$root/work"
  echo "wine-run.sh: creating the Wine prefix $prefix" >&2
  as_user wineboot -i >/dev/null 2>&1 || true
  # Without a window manager Wine waits after each closed window; unmanaged
  # windows avoid it.
  as_user wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  as_user wineserver -w
  touch "$prefix/.ready"
}

exec 9>"$root/.lock"
flock 9
[ "$caller_display" = 1 ] || start_display
prepare_prefix
as_user wineserver -p 60 2>/dev/null || true
flock -u 9

export DISPLAY
if [ "$caller_display" = 1 ]; then
  [ -n "${DISPLAY:-}" ] || { echo "wine-run.sh: --display needs \$DISPLAY" >&2; exit 2; }
  # The unprivileged user needs the caller's X cookie to reach that display.
  auth=${XAUTHORITY:-${HOME:-/root}/.Xauthority}
  if [ "$drop_root" = 1 ] && [ -f "$auth" ]; then
    install -m 600 -o "$user_id" -g "$user_id" "$auth" "$home/.Xauthority"
    export XAUTHORITY=$home/.Xauthority
  fi
else
  DISPLAY=$(cat "$display_file")
fi
work=$root/work/$(basename "$program" .exe)
mkdir -p "$work"
[ "$drop_root" = 1 ] && chown "$user_id:$user_id" "$work"
cd "$work"
# Wine's own processes (wineserver, services, the desktop) outlive the program
# and inherit its output: give it a file, so that ctest's pipe closes when the
# program ends.
log=$(mktemp "$root/output.XXXXXX")
status=0
as_user wine "$program" "$@" >"$log" 2>&1 </dev/null || status=$?
cat "$log"
rm -f "$log"
exit $status
