# What the stage scripts share; each sources it after `cd` to the top of the tree:
#   . scripts/lib.sh
# Messages, skipping (a failure under CI=true), bounded waits, the two builds the stages share
# (the optimized build in build/app, the Windows build in build/windows), a display, Wine
# prefixes and windows on the display.

lib_name=$(basename "$0")
lib_start=$(date +%s)

say() { echo "$lib_name: $*"; }
die() {
  say "FAILED: $*" >&2
  exit 1
}
# skip WHAT: leaves out a part that cannot run on this machine, saying so. Under CI=true (as
# .ci/run sets it) nothing may be left out: a missing tool or package is a failure there.
skip() {
  [ "${CI:-}" != true ] || die "cannot run: $* (nothing may be skipped under CI=true)"
  say "skipped: $*"
}
passed() { say "passed in $(($(date +%s) - lib_start)) s"; }

# wait_for TENTHS COMMAND...: waits until the command succeeds, at most TENTHS tenths of a second.
wait_for() {
  local tenths=$1
  shift
  for _ in $(seq "$tenths"); do
    "$@" && return 0
    sleep 0.1
  done
  return 1
}

# leftovers: prints the processes still running a program of this tree's builds (by absolute
# path, or by relative path from this tree), one per line. A stage must leave none: a guest or a
# simulator left running would load every later run on the machine.
leftovers() {
  local pid cmd
  for pid in $(pgrep -f -- 'build/'); do
    cmd=$({ tr '\0' ' ' <"/proc/$pid/cmdline"; } 2>/dev/null) || continue
    case $cmd in
      *"$PWD/build/"*) ;;
      build/* | *" build/"*) [ "$(readlink "/proc/$pid/cwd" 2>/dev/null)" = "$PWD" ] || continue ;;
      *) continue ;;
    esac
    printf '  %s %s\n' "$pid" "${cmd:0:160}"
  done
}

# The optimized build of docs/building.md (build/app, Release, with the benchmarks): it gives
# the Linux programs, the simulator of every stage, the benchmarks and the .deb, and it is the
# build type users and packagers ask for, built here with warnings as errors. The tests are left
# out: they run in the sanitized build/test, and the optimized core's threads under
# ThreadSanitizer (build/tsan); compiling them a third time here cost CI four minutes.
# Every tree the scripts configure turns CORVANEL_WERROR on (off by default for users' builds).
app_build_dir=build/app
app_configure() {
  cmake -S . -B "$app_build_dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCORVANEL_WERROR=ON \
    -DCORVANEL_BUILD_TESTS=OFF -DCORVANEL_BUILD_BENCH=ON >/dev/null
}
# app_build [TARGET...]: configures build/app when it is not yet, and builds the targets (all
# when none is given). Each tree is built under a lock of its own: stages that run side by side
# (scripts/test) each make sure of the programs they use.
app_build() {
  mkdir -p "$app_build_dir"
  (
    flock 9
    [ -f "$app_build_dir/build.ninja" ] || app_configure
    if [ $# -eq 0 ]; then
      cmake --build "$app_build_dir"
    else
      cmake --build "$app_build_dir" --target "$@"
    fi
  ) 9>"$app_build_dir/.build-lock"
}

# The Windows build (build/windows, mingw-w64, Release, with its tests): the programs the
# Windows stage runs under Wine and the installer packs.
windows_build_dir=build/windows
windows_packages="g++-mingw-w64-x86-64 wine wine64"
# windows_build [TARGET...]: as app_build, for the Windows build.
windows_build() {
  if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null; then
    CORVANEL_EXTRA_PACKAGES="$windows_packages" scripts/setup ||
      die "could not install $windows_packages"
  fi
  mkdir -p "$windows_build_dir"
  (
    flock 9
    cmake --no-warn-unused-cli -S . -B "$windows_build_dir" -G Ninja \
      -DCMAKE_TOOLCHAIN_FILE="$PWD/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release \
      -DCORVANEL_BUILD_UI=ON -DCORVANEL_BUILD_TESTS=ON -DCORVANEL_WERROR=ON >/dev/null
    if [ $# -eq 0 ]; then
      cmake --build "$windows_build_dir" -j2
    else
      cmake --build "$windows_build_dir" -j2 --target "$@"
    fi
  ) 9>"$windows_build_dir/.build-lock"
}

# on_display COMMAND...: runs the command on a free Xvfb display of its own.
on_display() { xvfb-run -a -s "-screen 0 1280x1024x24" "$@"; }

# wine_prefix DIR: a fresh, private Wine prefix in DIR, booted; exports WINEPREFIX for what
# follows. Wine's output goes to files, never to pipes: its background processes keep them open.
wine_prefix() {
  export WINEPREFIX=$1 WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
  mkdir -p "$WINEPREFIX"
  wine wineboot -i </dev/null >/dev/null 2>&1
}

# wine_com_ports DIR N...: COM N of the prefix in WINEPREFIX as Windows has its ports: listed
# in the device map (QueryDosDevice knows it; the program opens no COM name the map does not
# know), as the link DIR/comN, which the caller points at a device (a simulator's pty) or
# removes. The registry's Ports key names the links and Wine applies it as its server starts,
# so the server is started again (persistent) here, with Wine's background processes.
wine_com_ports() {
  local dir=$1 n
  shift
  mkdir -p "$dir"
  for n in "$@"; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "COM$n" /d "$dir/com$n" /f </dev/null >/dev/null 2>&1
  done
  wineserver -k 2>/dev/null || true
  wineserver -w 2>/dev/null || true
  wineserver -p </dev/null >/dev/null 2>&1
  # Wine's background processes start now, with their output here: started by a test under
  # ctest they would keep its pipe open, and ctest would wait for them.
  wine wineboot </dev/null >/dev/null 2>&1
}

# wait_window TITLE SECONDS: the X window titled exactly TITLE, once it is mapped; nothing
# (and status 1) when it does not come in time.
wait_window() {
  local id
  id=$(timeout "$2" xdotool search --sync --onlyvisible --name "^$1\$" 2>/dev/null | head -n 1)
  [ -n "$id" ] && echo "$id"
}
