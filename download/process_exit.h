// The process's own ends: the title bar's close (code 0) and the failed second open of the
// upgrade file (code 1). Both close the terminal port first and end the process at once,
// from whichever thread, without running static destructors under a thread that is still
// blocked in the port or the window: nothing waits for the worker, and nothing crashes.
#pragma once

[[noreturn]] void EndProcess(int exitCode);
