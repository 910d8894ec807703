// corvanel-cli station: a bench of terminals. Every terminal on the scan's ports (or the ports
// named) gets its download, all at once, each in a unit process of its own (unit_process.h);
// the station watches the ports (serial/port_watch.h) and starts on a terminal plugged in, and
// never starts again on one whose download ended until its port goes away and comes back. It
// never opens a port itself.
#pragma once

#include "cli/cli_options.h"

// A unit's exit code (its own, never a station's) when it found no terminal because its port
// would not open for it: held by another program, or its line settings refused. Such a port is
// not asked again while it stays plugged in: another program may be upgrading that terminal.
inline constexpr int kExitUnitPortRefused = 9;

// Runs the station to its end; the exit code: 0 when every unit succeeded, 7 when any failed, 4
// when none was found (--once), 3 for a refused file, 128+N after signal N.
int RunStation(const CliOptions& options);
