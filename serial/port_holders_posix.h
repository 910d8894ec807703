// The exclusivity look of the POSIX backend: who else has a device open, as /proc shows it.
// flock and TIOCEXCL keep out programs that lock or that do not run as root; this look also
// catches a program that holds a port without any lock (a terminal program).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <vector>

// The number of the pseudo-terminal whose slave device this is; -1 for any other device.
long PtySlaveIndex(dev_t device);

// Whether another process has the device of fd open (compared by device number), leaving out a
// process that also holds the master of the same pseudo-terminal: that is the device's own side.
bool DeviceHeldElsewhere(int fd);

// The processes other than this one that have `device` open, by the same rule; at most `limit`.
std::vector<pid_t> DeviceHolders(dev_t device, std::size_t limit);
