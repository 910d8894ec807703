// The platform seam of corvanel-cli: one file per platform (console_posix.cpp,
// console_win32.cpp).
#pragma once

#include <cstdio>
#include <string>

// A reader that goes away (the other end of a pipe closed) must not end the download: writes to
// a closed output then fail quietly instead of ending the process (SIGPIPE ignored on POSIX).
void KeepRunningWhenOutputCloses();

// Whether `stream` writes to an interactive terminal (where a live progress line makes sense).
bool IsTerminal(std::FILE* stream);

// The device a port name opens here: the COM mapping (or CORVANEL_COM_DIR's entry) on Linux, the
// name itself on Windows. Empty when the name maps to no device.
std::string PortDevice(const std::string& name);
