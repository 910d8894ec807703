// corvanel-cli doctor: the serial ports the scan would try, and each condition of this PC that
// would stop a download on one of them, with its fix (serial/port_doctor.h).
#pragma once

#include "cli/cli_options.h"

inline constexpr int kExitDoctorFound = 8;  // something stands in the way

// Prints the ports and the findings (--json: one object); 0 when nothing stands in the way,
// kExitDoctorFound when something does.
int RunDoctor(const CliOptions& options);
