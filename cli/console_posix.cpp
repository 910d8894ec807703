#include <signal.h>
#include <unistd.h>

#include <cstdlib>

#include "cli/console.h"
#include "serial/serial_posix.h"

void KeepRunningWhenOutputCloses() { (void)::signal(SIGPIPE, SIG_IGN); }

bool IsTerminal(std::FILE* stream) { return isatty(fileno(stream)) == 1; }

std::string PortDevice(const std::string& name) {
  return ResolveDevicePath(name.c_str(), std::getenv(kComDirVariable));
}
