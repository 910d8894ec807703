#!/bin/busybox sh
# /init of the real-driver stage's QEMU guest (scripts/test-drivers). Loads the USB and serial
# drivers, then runs the shell commands the host sends over the console, one line each; each
# line ends with a marker the host waits for. The functions below are what those lines use.
/bin/busybox --install -s /bin
export PATH=/bin:/sbin:/usr/bin
mkdir -p /proc /sys /dev /tmp
mount -t proc proc /proc
mount -t sysfs sys /sys
mount -t devtmpfs dev /dev

echo 1 >/proc/sys/kernel/printk
# The gadget (g_serial) is loaded later, when the cdc_acm and the bulk-mode scenarios plug it in.
# No USB autosuspend: the emulated hub, suspended once its last device is unplugged, does not
# always wake its driver for the next device plugged in, and that device would never appear.
for m in $(cat /lib/modules/order); do
  args=""
  [ "$m" != usbcore ] || args="autosuspend=-1"
  insmod "/lib/modules/$m.ko" $args || echo "@@FAIL insmod $m"
done
mount -t configfs configfs /sys/kernel/config
stty -echo

# waitfor TENTHS TEST...: waits until the test holds, at most TENTHS tenths of a second.
waitfor() {
  n=$1
  shift
  while ! "$@"; do
    n=$((n - 1))
    [ "$n" -gt 0 ] || { echo "waitfor: gave up on: $*"; return 1; }
    usleep 100000
  done
}
absent() { ! [ -e "$1" ]; }
# at_least N PATTERN FILE: FILE has N lines or more with PATTERN.
at_least() { [ "$(grep -c -- "$2" "$3")" -ge "$1" ]; }
# stop PROGRAM: ends every process of that program and waits until they are gone.
stop() {
  killall -q "$1"
  waitfor 50 not_running "$1"
}
not_running() { ! pidof "$1" >/dev/null; }

# job NAME CMD...: runs CMD in the background; its output, exit code and CPU times (time -p) go
# to /tmp/NAME.*, its end to the kernel's log. jobwait NAME TENTHS waits for it and prints its
# exit code, its output and its times.
job() {
  name=$1
  shift
  rm -f "/tmp/$name".*
  (time -p -o "/tmp/$name.time" "$@" >"/tmp/$name.out" 2>&1
    echo $? >"/tmp/$name.rc.tmp"
    mark "$name ended"
    mv "/tmp/$name.rc.tmp" "/tmp/$name.rc") &
}
jobwait() {
  waitfor "$2" [ -e "/tmp/$1.rc" ] || return 1
  echo "rc $(cat "/tmp/$1.rc")"
  cat "/tmp/$1.out" "/tmp/$1.time"
}
# mark TEXT puts a line into the kernel's log, timed on the clock of the kernel's own messages;
# logtime TEXT gives the time of the last line holding TEXT; since TEXT1 TEXT2 the seconds
# between the last lines holding each.
mark() { echo "corvanel-lab: $*" >/dev/kmsg; }
logtime() { dmesg | grep -F "$1" | tail -n 1 | sed 's/^\[ *\([0-9.]*\)\].*/\1/'; }
since() { awk "BEGIN { printf \"%.2f\", $(logtime "$2") - $(logtime "$1") }"; }

# writes TRACE: the writes a corvanel-cli trace has recorded so far.
writes() { grep -c ' write ' "$1" 2>/dev/null || echo 0; }
has_writes() { [ "$(writes "$1")" -ge "$2" ]; }

# soak N PORT: N paced downloads of the sample through COM PORT, one after the other, each under
# a time limit; prints "soak N SUCCEEDED HANGS RETRIES SECONDS".
soak() {
  n=0 ok=0 hangs=0 retries=0 start=$(date +%s)
  while [ "$n" -lt "$1" ]; do
    n=$((n + 1))
    timeout 60 corvanel-cli --no-record --json --port "$2" download /data/sample.ldr \
      >/tmp/soak.out 2>/dev/null
    rc=$?
    [ "$rc" = 0 ] && ok=$((ok + 1))
    [ "$rc" = 143 ] && hangs=$((hangs + 1))
    r=$(sed -n 's/.*"retries":\([0-9]*\).*/\1/p' /tmp/soak.out)
    retries=$((retries + ${r:-0}))
  done
  echo "soak $1 $ok $hangs $retries $(($(date +%s) - start))"
}

echo "@@READY"
while IFS= read -r line; do
  eval "$line"
done
