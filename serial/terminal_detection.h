// Terminal detection: finds the COM port (COM2 to COM100) whose device answers an AT
// identification command with a known word, and leaves g_terminalPort open on it.
// Runs on the UI thread and blocks it for the whole scan; displays nothing.
#pragma once

#include <cstdint>

inline constexpr int kFirstCandidatePort = 2;   // COM1 is never tried
inline constexpr int kLastCandidatePort = 100;  // included

enum DetectResult : std::uint16_t {
  DETECT_FOUND = 0,  // a terminal answered; g_terminalPort is left open on its port
  DETECT_NONE = 1,   // none did; the port is closed
};

std::uint16_t DetectTerminal();

// Limits detection to the one port named ("\\.\COMn" or a device path): both passes ask that
// port alone, and it must still answer as a terminal. Null or empty restores the scan of the
// candidate ports. Set it before detection runs.
void SetDetectionPort(const char* name);

// The reply search shared by detection and the worker's AT check and dial: the first `count`
// bytes of `reply`, taken as text that ends at the first zero byte among them, contain `word`
// as one unbroken run of bytes (case sensitive). A count of 0 never matches.
bool ReplyContainsWord(const std::uint8_t* reply, std::uint32_t count, const char* word);
