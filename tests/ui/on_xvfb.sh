#!/usr/bin/env bash
# Runs a command on a private Xvfb screen of its own size, with Qt's X platform:
#   tests/ui/on_xvfb.sh 1920x1080 COMMAND [ARGS]...
# The display number comes from Xvfb itself (-displayfd), so that tests run at once never share
# one. Without Xvfb or xdotool it exits with 77 (CTest's skip), a failure under CI=true.
set -euo pipefail
size=$1
shift
for tool in Xvfb xdotool; do
  if ! command -v "$tool" >/dev/null; then
    echo "on_xvfb: $tool is not installed (scripts/setup installs it)"
    [ "${CI:-}" = true ] && exit 1
    exit 77
  fi
done
work=$(mktemp -d)
xvfb_pid=""
cleanup() {
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp 3>"$work/display" 2>"$work/xvfb.err" &
xvfb_pid=$!
for _ in $(seq 100); do
  grep -q . "$work/display" 2>/dev/null && break
  kill -0 "$xvfb_pid" 2>/dev/null || break
  sleep 0.1
done
display=$(head -n 1 "$work/display" 2>/dev/null || true)
if [ -z "$display" ]; then
  echo "on_xvfb: Xvfb did not start"
  cat "$work/xvfb.err"
  exit 1
fi
status=0
DISPLAY=:$display QT_QPA_PLATFORM=xcb "$@" || status=$?
exit $status
