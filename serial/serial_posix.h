// The part of the POSIX backend's I/O that is worth checking on its own: how the line settings
// become termios flags, and whether the device took them. No I/O here.
#pragma once

#include <termios.h>

#include <string>

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

// The probe that tells apart two drivers that both read back their old speed when asked 230400
// (see JudgeLineSettings): `current`, what the device reads back now, at another standard speed:
// 9600, or 19200 when the device is at 9600 already. Every UART takes those.
termios SpeedProbe(const termios& current);

// The verdict on a line-settings request: empty when the port can be used, else why not, for
// the operator ("line settings refused: asked 230400, got 9600"). `got` is what the device read
// back after the request; `probed` what it read back after SpeedProbe(got), looked at only when
// `got` is not what was asked (TermiosTaken).
// A read-back that is not what was asked still leaves the port usable when its driver takes no
// line settings at all: the USB serial core's default without set_termios (usbserial_generic,
// the modem-module drivers) and n_gsm copy the old speed and format back whatever is asked, the
// probe included, and on a USB bulk pipe they mean nothing. A driver that takes the probe but
// kept its old settings for the request really runs its line at those (an 8250 at baud base
// 115200 asked 230400): refused. The raw mode (input, output and local flags) is kept by the
// terminal layer for every driver, so a read-back that differs there is refused whatever the
// probe shows.
std::string JudgeLineSettings(const termios& asked, const termios& got, const termios& probed,
                              bool pseudoTerminal);
