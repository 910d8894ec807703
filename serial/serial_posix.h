// The part of the POSIX backend's I/O that is worth checking on its own: how the line settings
// become termios flags, and whether the device took them. No I/O here.
#pragma once

#include <termios.h>

#include "serial/serial_backend.h"

// Raw termios for the line settings, built from zeroed storage: no echo, no line editing, no
// translation of any byte, CLOCAL and CREAD, no HUPCL, VMIN 0 and VTIME 0. False when a setting
// has no termios equivalent here (an unsupported speed, say).
bool LineSettingsToTermios(const SerialLineSettings& settings, termios* out);

// Whether the settings a device reports back (`got`) are those that were asked for (`asked`): both
// speeds, the character format, flow control and the raw mode. A driver may refuse a setting and
// keep the old one while tcsetattr still succeeds (an 8250 UART whose baud base is below the
// speed stays at its previous speed), so only a read-back shows it. A pseudo-terminal has no line
// and forces 8 bits without parity whatever is asked; its character format is not compared.
bool TermiosTaken(const termios& asked, const termios& got, bool pseudoTerminal);
