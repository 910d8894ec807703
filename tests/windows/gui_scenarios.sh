#!/usr/bin/env bash
# The Windows program's GUI scenarios: corvanel.exe under Wine against simulated terminals
# behind a Wine COM port, driven and read from outside by gui_driver.exe (posted button
# presses, system commands and closes; texts, enable states, the progress bar and message boxes
# read by control ID). scripts/test-windows runs it under Xvfb with WINEPREFIX set to a prefix
# that wineboot has prepared; it starts and ends its own wineserver and simulator.
# Usage: tests/windows/gui_scenarios.sh CORVANEL_EXE WIN_INSPECT_EXE CORVANEL_SIM WORKDIR
# CORVANEL_GUI_SCENARIOS may name the scenario functions to run (default: all). A failed step
# leaves a picture of the screen in gui-failures/ beside the executable's folder; with
# CORVANEL_GUI_SHOTS naming a folder, the help scenarios leave pictures of their screens there.
#
# What Wine does not let these checks see, and so they leave to real Windows:
# - the items of another process's system menu (GetSystemMenu from outside returns nothing): the
#   menu is opened as Alt+Space opens it and its last item chosen with Up and Enter, which opens
#   the About box only when that item is the About item (Wine's own "About Wine" comes before);
# - the title bar: without a window manager Wine draws none, so the close box is stood in for by
#   the WM_CLOSE it sends;
# - the exclusive open of a COM port, which Wine does not enforce.
set -euo pipefail
cd "$(dirname "$0")/../.."
exe=$(readlink -f "$1")
shots=$(dirname "$(dirname "$exe")")/gui-failures
inspect_exe=$(readlink -f "$2")
sim_exe=$(readlink -f "$3")
work=$4
say() { echo "gui: $*"; }
winpath() { local p; p=$(readlink -f "$1"); echo "Z:${p//\//\\}"; }
esc() { echo "${1//\\/\\\\}"; }  # a text to compare, with its backslashes kept

main="Tarvenix ISDN Software Upgrade via USB"
status_idle="File transfer progress indicator."
no_terminal="No terminal connected.\n\nMake sure that the terminal is connected to the PC or \
that some other PC application is not accessing the terminal USB port. Restart the PC \
application and start again.If the problem persists, please verify the USB connection according \
the FAQ documentation found on www.tarvenix.example/faq"
connected="Connected with terminal.\n\nMake sure that the handset is in software download mode. \
Select the upgrade file and press download software to handset button to start downloading. \
Press help button for further details on how to enter download mode on handset."
warning="Configuration settings may be lost during software upgrade for the Tarvenix ISDN \
Handset.In some rare cases the upgrade procedure might fail when upgrading from the 1.5.9 or \
older and your device must be returned to a service center for repair. Do not attempt this \
upgrade procedure unless you have the possibility to return the Tarvenix ISDN Handset or have a \
replacement available."
burning="Download completed and started burning new software into handset. \nHandset must not be \
disturbed during software burning process. \nThis process will take up to 40 seconds."
about_line="Tarvenix ISDN Handset Software Upgrade via USB  Version 1.6.7"
# The status lines of a download, in their order; a poll can miss the quick ones.
stages="$status_idle|Checking the terminal...|Terminal ready.|Establishing connection with handset...|\
Connected with handset."

# Control IDs of the main window.
IDOK=1 IDC_PATH=1000 IDC_BROWSE=1001 IDC_DOWNLOAD=1002 IDC_PROGRESS=1004 IDC_STATUS=1012
IDC_HELP_BUTTON=1013 IDC_MESSAGE=1019 IDC_WARNING=1026
VK_RETURN=0x0D VK_ESCAPE=0x1B VK_UP=0x26
# The open-file dialog: its file name box and its Cancel button.
OPEN_NAME=1148 IDCANCEL=2

sample=testdata/sample.ldr
sample_blocks=$(( $(stat -c %s "$sample") / 1024 ))
# The Wine COM port the program finds its terminal on; each scenario links it to its own device.
com=40
# scripts/test-windows put it in the device map as the link $work/ports/com40.
wine_port=$work/ports/com$com

sim_pid=""
app_pid=""
screen_pid=""
stage_display=${DISPLAY:-}
failed=0
ran=""
cleanup() {
  if [ -n "$app_pid" ]; then kill -KILL "$app_pid" 2>/dev/null || true; fi
  wineserver -k 2>/dev/null || true
  if [ -n "$sim_pid" ]; then
    kill -TERM "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
  if [ -n "$screen_pid" ]; then
    kill -TERM "$screen_pid" 2>/dev/null || true
    wait "$screen_pid" 2>/dev/null || true
  fi
}
trap cleanup EXIT

wineserver -p </dev/null >/dev/null 2>&1
# Earlier stages' links may point at ptys that now belong to other devices: the links of COM40
# to COM99 are this script's alone.
for k in $(seq 40 99); do rm -f "$work/ports/com$k"; done

# The devices, one per scenario; all paced at 230400 baud.
#   COM50  terminal and handset that take the download; block 5's answer comes 1.5 s late, so
#          the progress bar holds a middle position long enough to be seen
#   COM51  terminal whose handset never answers the begin request
#   COM52  terminal and handset; block 2's answer comes 4 s late (within the read's 5.17 s
#          time-out): the moment to close the window in
#   COM53  terminal and handset that take the download of a file with a Unicode name
# The output file exists before the simulator starts: the wait below reads it at once, and a
# failed read ends the script (set -e).
: >"$work/gui-sim.out"
"$sim_exe" --pace \
  --com 50 --fault data:5=delay:1500 --save-image "$work/gui-received.ldr" \
  --com 51 --fault begin=silence \
  --com 52 --fault data:2=delay:4000 \
  --com 53 --save-image "$work/gui-unicode-received.ldr" \
  >"$work/gui-sim.out" 2>"$work/gui-sim.err" &
sim_pid=$!
comdir=""
for _ in $(seq 100); do
  comdir=$(sed -n 's/^CORVANEL_COM_DIR=//p' "$work/gui-sim.out")
  [ -n "$comdir" ] && break
  kill -0 "$sim_pid" 2>/dev/null || break
  sleep 0.1
done
if [ -z "$comdir" ]; then
  cat "$work/gui-sim.err" >&2
  say "the simulator did not start"
  exit 1
fi

# Links the program's COM port to simulated device N, or to nothing.
port() { ln -sfn "$(readlink -f "$comdir/COM$1")" "$wine_port"; }
noport() { rm -f "$wine_port"; }

n=0
start_app() {
  n=$((n + 1))
  wine "$exe" >"$work/app$n.log" 2>&1 &
  app_pid=$!
}

# Runs the inspector's steps; on failure shows what it printed and the window as it was.
inspect() {
  local log=$work/inspect.log
  if wine "$inspect_exe" "$@" >"$log" 2>&1; then
    grep ' seen:' "$log" | sed 's/^gui_driver: /    /' || true
    return 0
  fi
  sed 's/^/    /' "$log"
  wine "$inspect_exe" deadline 2 find "$main" dump >"$log" 2>&1 || true
  sed 's/^/    /' "$log"
  if command -v import >/dev/null; then
    mkdir -p "$shots"
    import -window root "$shots/$n.png" 2>/dev/null && echo "    screen: $shots/$n.png"
  fi
  return 1
}

# Waits up to 60 s for the program to end and checks its exit code ("any": no check).
app_exit() {
  local want=$1 code=0
  for _ in $(seq 600); do
    kill -0 "$app_pid" 2>/dev/null || break
    sleep 0.1
  done
  if kill -0 "$app_pid" 2>/dev/null; then
    kill -KILL "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
    app_pid=""
    echo "    the program did not end"
    return 1
  fi
  wait "$app_pid" || code=$?
  app_pid=""
  if [ "$want" != any ] && [ "$code" -ne "$want" ]; then
    echo "    exit code $code, expected $want"
    return 1
  fi
}

# A screen of its own, SIZE (e.g. 1024x768), for the scenario that follows: a private Xvfb
# screen, with Wine's server started anew on it (Wine's desktop takes the screen's size as it
# starts). back_to_stage_screen returns to the stage's display.
own_screen() {
  local display=""
  : >"$work/screen.display"
  Xvfb -displayfd 3 -screen 0 "$1x24" -nolisten tcp 3>"$work/screen.display" \
    2>"$work/screen.err" &
  screen_pid=$!
  for _ in $(seq 100); do
    display=$(head -n 1 "$work/screen.display")
    [ -n "$display" ] && break
    kill -0 "$screen_pid" 2>/dev/null || break
    sleep 0.1
  done
  if [ -z "$display" ]; then
    echo "    Xvfb did not start"
    return 1
  fi
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  export DISPLAY=:$display
  wineserver -p </dev/null >/dev/null 2>&1
}
back_to_stage_screen() {
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  if [ -n "$screen_pid" ]; then
    kill -TERM "$screen_pid" 2>/dev/null || true
    wait "$screen_pid" 2>/dev/null || true
    screen_pid=""
  fi
  export DISPLAY=$stage_display
  wineserver -p </dev/null >/dev/null 2>&1
}

# Waits up to 10 s until N help windows are on the X screen.
help_windows() {
  for _ in $(seq 100); do
    [ "$(xdotool search --onlyvisible --name '^Help$' 2>/dev/null | wc -l)" -eq "$1" ] && return 0
    sleep 0.1
  done
  echo "    $(xdotool search --onlyvisible --name '^Help$' 2>/dev/null | wc -l) help windows, not $1"
  return 1
}

scenario() {
  local name=$1 t0
  shift
  case " ${CORVANEL_GUI_SCENARIOS:-$1} " in *" $1 "*) ;; *) return 0 ;; esac
  ran+=" $1 "
  t0=$(date +%s)
  if "$@"; then
    say "ok   $name ($(( $(date +%s) - t0 )) s)"
  else
    say "FAIL $name"
    failed=1
    if [ -n "$app_pid" ]; then
      kill -KILL "$app_pid" 2>/dev/null || true
      wait "$app_pid" 2>/dev/null || true
      app_pid=""
    fi
  fi
  if [ -n "$screen_pid" ]; then back_to_stage_screen; fi
}

# Start-up without a terminal: the window centred in the work area, the no-terminal message,
# Browse and Download disabled, no box; the About box from the system menu's last item, modal
# over the main window and centred over it; three presses of Help give three help windows
# inside the work area, none over Help, none hiding another; WM_CLOSE (the close box) ends the
# program with exit code 0.
no_terminal() {
  noport
  start_app
  inspect find "$main" centred work text $IDC_STATUS "$status_idle" \
    text $IDC_MESSAGE "$no_terminal" \
    text $IDC_WARNING "$warning" enabled $IDC_BROWSE 0 enabled $IDC_DOWNLOAD 0 \
    enabled $IDC_HELP_BUTTON 1 enabled $IDOK 1 nobox \
    sysmenu key $VK_UP key $VK_RETURN find "About Corvanel" owner main centred main \
    hastext "$about_line" \
    main enabled 0 0 find "About Corvanel" click $IDOK gone main enabled 0 1 \
    click $IDC_HELP_BUTTON click $IDC_HELP_BUTTON click $IDC_HELP_BUTTON placed Help 3 inside $IDC_HELP_BUTTON close gone &&
    app_exit 0
}

# Help clicked four times with the X pointer at its place on a screen of SIZE ($1) gives four
# help windows, each inside the work area and none over Help (the fourth click reached it);
# with $2 = beside (a screen with room beside the main window) none over the main window either.
help_places() {
  local at
  own_screen "$1" || return 1
  noport
  start_app
  wine "$inspect_exe" find "$main" where $IDC_HELP_BUTTON >"$work/where.log" 2>&1 || true
  at=$(sed -n 's/^gui_driver: at \([0-9-]*\) \([0-9-]*\).*/\1 \2/p' "$work/where.log")
  if [ -z "$at" ]; then
    sed 's/^/    /' "$work/where.log"
    return 1
  fi
  for k in 1 2 3 4; do
    # shellcheck disable=SC2086  # "X Y"
    xdotool mousemove $at click 1
    help_windows $k || return 1
  done
  if command -v import >/dev/null && [ -n "${CORVANEL_GUI_SHOTS:-}" ]; then
    import -window root "$CORVANEL_GUI_SHOTS/windows-$1.png" 2>/dev/null || true
  fi
  inspect find "$main" placed Help 4 "$2" $IDC_HELP_BUTTON close gone && app_exit 0
}
help_beside() { help_places 1920x1080 beside; }
help_small_screen() { help_places 1024x768 inside; }

# Start-up with a terminal, a whole download of the sample file chosen in the open-file dialog,
# then Escape, which the dialog manager turns into the end of the window.
download() {
  local path
  path=$(winpath "$sample")
  port 50
  start_app
  inspect find "$main" text $IDC_STATUS "$status_idle" text $IDC_MESSAGE "$connected" \
    enabled $IDC_BROWSE 1 enabled $IDC_DOWNLOAD 0 nobox \
    click $IDC_BROWSE find Open text 1136 "LDR files (*.ldr)" settext $OPEN_NAME "$path" \
    click $IDOK gone main text $IDC_PATH "$(esc "$path")" enabled $IDC_DOWNLOAD 1 \
    click $IDC_DOWNLOAD \
    watch $IDC_STATUS "$stages|Transferring the file to handset...|Transfer completed." \
    $IDC_PROGRESS moved 0 "$sample_blocks" progress $IDC_PROGRESS 0 "$sample_blocks" "$sample_blocks" \
    text $IDC_MESSAGE "Software downloaded to handset successfully." \
    text $IDC_DOWNLOAD "Transfering software to handset" enabled $IDC_DOWNLOAD 0 \
    enabled $IDC_BROWSE 0 \
    box Status "$burning" owner none main enabled 0 1 box Status "$burning" click $IDOK gone \
    main text $IDC_DOWNLOAD "Download software to handset." enabled $IDC_DOWNLOAD 1 \
    enabled $IDC_BROWSE 1 text $IDC_STATUS "Transfer completed." key $VK_ESCAPE gone &&
    app_exit any
}

# A handset that never answers the begin request: "Transfer failed." and the "Error" box.
silent_begin() {
  local path
  path=$(winpath "$sample")
  port 51
  start_app
  inspect find "$main" text $IDC_MESSAGE "$connected" \
    click $IDC_BROWSE find Open click $IDCANCEL gone main enabled $IDC_DOWNLOAD 1 \
    settext $IDC_PATH "$path" click $IDC_DOWNLOAD \
    watch $IDC_STATUS "$stages|Transfer failed." $IDC_PROGRESS \
    text $IDC_MESSAGE "\n\nFile download failed. Try again." \
    box Error "Software download failed.Try again" owner none click $IDOK gone \
    main text $IDC_DOWNLOAD "Download software to handset." enabled $IDC_DOWNLOAD 1 \
    enabled $IDC_BROWSE 1 close gone &&
    app_exit 0
}

# WM_CLOSE while the worker waits for a block's answer: the process ends at once with 0. Before
# it, Download has disabled itself with the focus: the keyboard's Enter and Escape (real keys,
# which reach the path box at start) then do nothing, neither open a help window nor end the
# window.
close_in_transfer() {
  local path
  path=$(winpath "$sample")
  port 52
  start_app
  inspect find "$main" || return 1
  xdotool type x
  inspect find "$main" text $IDC_PATH x click $IDC_BROWSE find Open click $IDCANCEL gone \
    main settext $IDC_PATH "$path" click $IDC_DOWNLOAD \
    text $IDC_STATUS "Transferring the file to handset..." progress $IDC_PROGRESS 0 \
    "$sample_blocks" 2 || return 1
  xdotool key Return Escape
  inspect find "$main" nobox text $IDC_STATUS "Transferring the file to handset..." close gone &&
    app_exit 0
}

# A file whose name has Polish, Cyrillic and Chinese letters (outside any ANSI code page), put
# into the path box as Unicode, as the file dialog hands it over: downloaded byte for byte.
unicode_path() {
  local dir=$work/Łódź-Путь-路径 path
  mkdir -p "$dir"
  cp "$sample" "$dir/obraz-образ.ldr"
  path=$(winpath "$dir/obraz-образ.ldr")
  port 53
  start_app
  inspect find "$main" click $IDC_BROWSE find Open click $IDCANCEL gone \
    main settext $IDC_PATH "$path" text $IDC_PATH "$(esc "$path")" click $IDC_DOWNLOAD \
    box Status "$burning" click $IDOK gone main text $IDC_DOWNLOAD "Download software to handset." \
    close gone &&
    app_exit 0
}

scenario "start-up without a terminal, About, Help" no_terminal
scenario "help beside the main window, 1920 x 1080" help_beside
scenario "help on a 1024 x 768 screen" help_small_screen
scenario "start-up with a terminal, download, Escape" download
scenario "handset silent at begin" silent_begin
scenario "close during a transfer" close_in_transfer
scenario "a file with a Unicode name" unicode_path

# What the simulated handsets received.
wineserver -k 2>/dev/null || true
kill -TERM "$sim_pid" 2>/dev/null || true
wait "$sim_pid" 2>/dev/null || true
sim_pid=""
sed 's/^/  /' "$work/gui-sim.err"
if [[ $ran == *" download "* ]] && { ! cmp -s "$sample" "$work/gui-received.ldr" ||
  ! grep -q "COM50: .*end request FCS 0x[0-9A-F]* matched" "$work/gui-sim.err"; }; then
  say "FAIL the handset did not receive the sample file byte for byte"
  failed=1
fi
if [[ $ran == *" unicode_path "* ]] && { ! cmp -s "$sample" "$work/gui-unicode-received.ldr" ||
  ! grep -q "COM53: .*end request FCS 0x[0-9A-F]* matched" "$work/gui-sim.err"; }; then
  say "FAIL the handset did not receive the file with the Unicode name byte for byte"
  failed=1
fi
# The window records its downloads too, in the prefix's %LOCALAPPDATA%\Corvanel.
records=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local/Corvanel/upgrades.jsonl')
if [[ $ran == *" download "* ]] &&
  ! grep -q '"program":"corvanel",.*"outcome":"completed"' $records /dev/null; then
  say "FAIL the window's download left no record"
  failed=1
fi
if [[ $ran == *" close_in_transfer "* ]] && ! grep -q "COM52: .*no end request" "$work/gui-sim.err"; then
  say "FAIL the transfer went on after the close"
  failed=1
fi
exit $failed
