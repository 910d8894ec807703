// Pure parts of the serial port: COM names to device paths, line settings, time-outs, termios.
#include <gtest/gtest.h>
#include <termios.h>

#include <cstring>
#include <ostream>
#include <string>
#include <tuple>

#include "serial/com_mapping_posix.h"
#include "serial/serial_port.h"
#include "serial/serial_posix.h"

namespace {

struct ComNumberRow {
  const char* name;
  int number;  // 0: not a COM name
};
std::ostream& operator<<(std::ostream& out, const ComNumberRow& row) {
  return out << '"' << row.name << "\" -> " << row.number;
}

class ParseComNumberTest : public ::testing::TestWithParam<ComNumberRow> {};

TEST_P(ParseComNumberTest, GivesTheNumberOfExactlyTheFormedNames) {
  EXPECT_EQ(ParseComNumber(GetParam().name), GetParam().number) << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, ParseComNumberTest,
    ::testing::Values(ComNumberRow{"\\\\.\\COM1", 1}, ComNumberRow{"\\\\.\\COM2", 2},
                      ComNumberRow{"\\\\.\\COM42", 42}, ComNumberRow{"\\\\.\\COM100", 100},
                      ComNumberRow{"\\\\.\\COM999", 999}, ComNumberRow{"\\\\.\\COM0", 0},
                      ComNumberRow{"\\\\.\\COM02", 0}, ComNumberRow{"\\\\.\\COM", 0},
                      ComNumberRow{"\\\\.\\COM5x", 0}, ComNumberRow{"\\\\.\\COM-5", 0},
                      ComNumberRow{"\\\\.\\com5", 0}, ComNumberRow{"COM5", 0},
                      ComNumberRow{"/dev/ttyS0", 0}, ComNumberRow{"", 0},
                      ComNumberRow{"\\\\.\\COM99999999999", 0}));

TEST(ParseComNumberTest, NoName_IsNoComName) { EXPECT_EQ(ParseComNumber(nullptr), 0); }

struct DevicePathRow {
  int number;
  const char* path;
};
std::ostream& operator<<(std::ostream& out, const DevicePathRow& row) {
  return out << "COM" << row.number << " -> \"" << row.path << '"';
}

class ComDevicePathTest : public ::testing::TestWithParam<DevicePathRow> {};

TEST_P(ComDevicePathTest, MapsTheFixedDevBlocks) {
  EXPECT_EQ(ComDevicePath(GetParam().number), GetParam().path) << GetParam().number;
}

INSTANTIATE_TEST_SUITE_P(
    Blocks, ComDevicePathTest,
    ::testing::Values(DevicePathRow{1, "/dev/ttyS0"}, DevicePathRow{2, "/dev/ttyS1"},
                      DevicePathRow{32, "/dev/ttyS31"}, DevicePathRow{33, "/dev/ttyUSB0"},
                      DevicePathRow{34, "/dev/ttyUSB1"}, DevicePathRow{66, "/dev/ttyUSB33"},
                      DevicePathRow{67, "/dev/ttyACM0"}, DevicePathRow{100, "/dev/ttyACM33"},
                      DevicePathRow{0, ""}, DevicePathRow{101, ""}, DevicePathRow{-1, ""}));

struct ResolveRow {
  const char* name;
  const char* comDir;  // nullptr: CORVANEL_COM_DIR unset
  const char* path;    // "": no device
};
std::ostream& operator<<(std::ostream& out, const ResolveRow& row) {
  return out << '"' << row.name << "\" in " << (row.comDir != nullptr ? row.comDir : "(unset)")
             << " -> \"" << row.path << '"';
}

class ResolveDevicePathTest : public ::testing::TestWithParam<ResolveRow> {};

TEST_P(ResolveDevicePathTest, GivesThePathThatOpenUses) {
  EXPECT_EQ(ResolveDevicePath(GetParam().name, GetParam().comDir), GetParam().path)
      << GetParam().name;
}

INSTANTIATE_TEST_SUITE_P(
    Names, ResolveDevicePathTest,
    ::testing::Values(ResolveRow{"\\\\.\\COM5", "/tmp/ports", "/tmp/ports/COM5"},
                      ResolveRow{"\\\\.\\COM100", "/tmp/ports", "/tmp/ports/COM100"},
                      ResolveRow{"\\\\.\\COM101", "/tmp/ports", "/tmp/ports/COM101"},
                      ResolveRow{"\\\\.\\COM1", "/tmp/ports", "/tmp/ports/COM1"},
                      ResolveRow{"\\\\.\\COM5", nullptr, "/dev/ttyS4"},
                      ResolveRow{"\\\\.\\COM40", nullptr, "/dev/ttyUSB7"},
                      ResolveRow{"\\\\.\\COM100", nullptr, "/dev/ttyACM33"},
                      ResolveRow{"\\\\.\\COM101", nullptr, ""},
                      ResolveRow{"\\\\.\\COM5", "", "/dev/ttyS4"},  // empty counts as unset
                      ResolveRow{"\\\\.\\COM0", "/tmp/ports", ""},
                      ResolveRow{"\\\\.\\LPT1", "/tmp/ports", ""},
                      ResolveRow{"\\\\.\\COM02", nullptr, ""},
                      ResolveRow{"/dev/pts/3", "/tmp/ports", "/dev/pts/3"},
                      ResolveRow{"COM5", nullptr, "COM5"}, ResolveRow{"", nullptr, ""}));

TEST(ResolveDevicePathTest, NoName_HasNoDevice) {
  EXPECT_EQ(ResolveDevicePath(nullptr, "/tmp/ports"), "");
}

struct ParityRow {
  std::int32_t mode;
  std::uint8_t fParity;
  std::uint8_t parity;
  tcflag_t cflagParity;  // PARENB and PARODD as termios sets them
};
std::ostream& operator<<(std::ostream& out, const ParityRow& row) {
  return out << "parity mode " << row.mode;
}

class LineSettingsParityTest : public ::testing::TestWithParam<ParityRow> {};

TEST_P(LineSettingsParityTest, ModesOneAndTwoSetParityAnyOtherActsAsNone) {
  const SerialLineSettings s = BuildLineSettings(230400, GetParam().mode);
  EXPECT_EQ(s.fParity, GetParam().fParity);
  EXPECT_EQ(s.Parity, GetParam().parity);
  termios t{};
  ASSERT_TRUE(LineSettingsToTermios(s, &t));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD), GetParam().cflagParity);
  EXPECT_EQ((t.c_iflag & INPCK) != 0, GetParam().fParity != 0);
}

INSTANTIATE_TEST_SUITE_P(
    Modes, LineSettingsParityTest,
    ::testing::Values(ParityRow{0, 0, kNoParity, 0}, ParityRow{1, 1, kOddParity, PARENB | PARODD},
                      ParityRow{2, 1, kEvenParity, PARENB}, ParityRow{3, 0, kNoParity, 0},
                      ParityRow{4, 0, kNoParity, 0}, ParityRow{-1, 0, kNoParity, 0}));

// Every member, so that records compare without their padding.
auto Members(const SerialLineSettings& s) {
  return std::make_tuple(s.DCBlength, s.BaudRate, s.fBinary, s.fParity, s.fOutxCtsFlow,
                         s.fOutxDsrFlow, s.fDtrControl, s.fDsrSensitivity, s.fTXContinueOnXoff,
                         s.fOutX, s.fInX, s.fErrorChar, s.fNull, s.fRtsControl, s.fAbortOnError,
                         s.XonLim, s.XoffLim, s.ByteSize, s.Parity, s.StopBits, s.XonChar,
                         s.XoffChar, s.ErrorChar, s.EofChar, s.EvtChar);
}

TEST(LineSettingsTest, TerminalSettings_AreTheFixedRecordWithEveryOtherMemberZero) {
  SerialLineSettings expected;
  std::memset(&expected, 0, sizeof expected);
  expected.DCBlength = 28;
  expected.BaudRate = 230400;
  expected.fBinary = 1;
  expected.XonLim = 2;
  expected.XoffLim = 4;
  expected.ByteSize = 8;
  expected.XonChar = 0x13;
  expected.XoffChar = 0x19;
  EXPECT_EQ(Members(BuildLineSettings(kTerminalBaudRate, kTerminalParity)), Members(expected));
}

TEST(LineSettingsTest, TerminalSettings_BecomeRawEightNOneTermios) {
  termios t{};
  ASSERT_TRUE(LineSettingsToTermios(BuildLineSettings(230400, 0), &t));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B230400));
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B230400));
  EXPECT_EQ(t.c_cflag & ~static_cast<tcflag_t>(CBAUD | CBAUDEX),
            static_cast<tcflag_t>(CS8 | CREAD | CLOCAL));
  EXPECT_EQ(t.c_iflag, 0u);
  EXPECT_EQ(t.c_oflag, 0u);
  EXPECT_EQ(t.c_lflag, 0u);
  EXPECT_EQ(t.c_cc[VMIN], 0);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(LineSettingsTest, UnsupportedSpeed_IsRefused) {
  termios t{};
  EXPECT_FALSE(LineSettingsToTermios(BuildLineSettings(12345, 0), &t));
  EXPECT_TRUE(LineSettingsToTermios(BuildLineSettings(9600, 0), &t));
}

// What a driver reports back after tcsetattr; each row changes the read-back of the terminal's
// settings (asked with odd parity, so that a dropped parity bit shows) in one way.
struct ReadBackRow {
  const char* change;
  void (*apply)(termios&);
  bool takenByDevice;
  bool takenByPty;
};
std::ostream& operator<<(std::ostream& out, const ReadBackRow& row) { return out << row.change; }

class TermiosTakenTest : public ::testing::TestWithParam<ReadBackRow> {};

TEST_P(TermiosTakenTest, AnyRefusedSettingFailsButAPtysForcedFormat) {
  termios asked{};
  ASSERT_TRUE(LineSettingsToTermios(BuildLineSettings(230400, 1), &asked));
  termios got = asked;
  GetParam().apply(got);
  EXPECT_EQ(TermiosTaken(asked, got, false), GetParam().takenByDevice);
  EXPECT_EQ(TermiosTaken(asked, got, true), GetParam().takenByPty);
}

INSTANTIATE_TEST_SUITE_P(
    ReadBacks, TermiosTakenTest,
    ::testing::Values(
        ReadBackRow{"nothing", [](termios&) {}, true, true},
        ReadBackRow{"the previous speed kept", [](termios& r) { cfsetspeed(&r, B9600); }, false,
                    false},
        ReadBackRow{"another input speed", [](termios& r) { cfsetispeed(&r, B115200); }, false,
                    false},
        ReadBackRow{"hardware flow control on", [](termios& r) { r.c_cflag |= CRTSCTS; }, false,
                    false},
        ReadBackRow{"line editing on", [](termios& r) { r.c_lflag |= ICANON; }, false, false},
        ReadBackRow{"output processing on", [](termios& r) { r.c_oflag |= OPOST; }, false, false},
        ReadBackRow{"XON/XOFF on", [](termios& r) { r.c_iflag |= IXON; }, false, false},
        ReadBackRow{"parity dropped", [](termios& r) { r.c_cflag &= ~PARENB; }, false, true},
        ReadBackRow{"seven data bits", [](termios& r) { r.c_cflag = (r.c_cflag & ~CSIZE) | CS7; },
                    false, true},
        ReadBackRow{"two stop bits", [](termios& r) { r.c_cflag |= CSTOPB; }, false, false}));

TEST(SpeedProbeTest, AsksAnotherSpeedThanTheDevicesAndChangesNothingElse) {
  termios current{};
  ASSERT_TRUE(LineSettingsToTermios(BuildLineSettings(9600, 0), &current));
  termios probe = SpeedProbe(current);
  EXPECT_EQ(cfgetospeed(&probe), static_cast<speed_t>(B19200));
  EXPECT_EQ(cfgetispeed(&probe), static_cast<speed_t>(B19200));
  EXPECT_EQ(probe.c_cflag & ~static_cast<tcflag_t>(CBAUD | CBAUDEX),
            current.c_cflag & ~static_cast<tcflag_t>(CBAUD | CBAUDEX));
  cfsetspeed(&current, B115200);
  probe = SpeedProbe(current);
  EXPECT_EQ(cfgetospeed(&probe), static_cast<speed_t>(B9600));
}

// What a device reads back after the terminal's request (230400 8N1, raw) and after the speed
// probe, and the verdict: accepted (""), or refused with the reason the operator sees.
struct VerdictRow {
  const char* device;
  void (*apply)(termios&);  // the read-back after the request
  bool probeTaken;          // the read-back after the probe: the probe, or the same as before
  bool pseudoTerminal;
  const char* refusal;
};
std::ostream& operator<<(std::ostream& out, const VerdictRow& row) { return out << row.device; }

class JudgeLineSettingsTest : public ::testing::TestWithParam<VerdictRow> {};

TEST_P(JudgeLineSettingsTest, AcceptsWhatWasTakenAndADriverThatTakesNothing) {
  termios asked{};
  ASSERT_TRUE(LineSettingsToTermios(BuildLineSettings(230400, 0), &asked));
  termios got = asked;
  GetParam().apply(got);
  const termios probed = GetParam().probeTaken ? SpeedProbe(got) : got;
  EXPECT_EQ(JudgeLineSettings(asked, got, probed, GetParam().pseudoTerminal), GetParam().refusal);
}

constexpr auto kOldSpeed = [](termios& r) { cfsetspeed(&r, B9600); };

INSTANTIATE_TEST_SUITE_P(
    Devices, JudgeLineSettingsTest,
    ::testing::Values(
        VerdictRow{"a driver that took it all", [](termios&) {}, true, false, ""},
        VerdictRow{"an 8250 at baud base 115200", kOldSpeed, true, false,
                   "line settings refused: asked 230400, got 9600"},
        VerdictRow{"a driver that takes no line settings", kOldSpeed, false, false, ""},
        VerdictRow{"a driver that takes no line settings, its old format kept",
                   [](termios& r) {
                     cfsetspeed(&r, B9600);
                     r.c_cflag = (r.c_cflag & ~CSIZE) | CS7 | PARENB | CRTSCTS;
                   },
                   false, false, ""},
        VerdictRow{"the speed taken, not the format",
                   [](termios& r) { r.c_cflag = (r.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD; },
                   true, false, "line settings refused: asked 8N1, got 7O1"},
        VerdictRow{"flow control forced on", [](termios& r) { r.c_cflag |= CRTSCTS; }, true, false,
                   "line settings refused: asked no flow control, got RTS/CTS flow control"},
        VerdictRow{"line editing kept, whatever the probe", [](termios& r) { r.c_lflag |= ICANON; },
                   false, false,
                   "line settings refused: asked cflag 0x18B3 iflag 0x0 oflag 0x0 lflag 0x0, got "
                   "cflag 0x18B3 iflag 0x0 oflag 0x0 lflag 0x2"},
        VerdictRow{"a pseudo-terminal that forces its format",
                   [](termios& r) { r.c_cflag = (r.c_cflag & ~CSIZE) | CS7; }, true, true, ""},
        VerdictRow{"a pseudo-terminal that kept another speed", kOldSpeed, true, true,
                   "line settings refused: asked 230400, got 9600"}));

TEST(TimeoutsTest, TerminalTimeouts_AreTheFixedValues) {
  const SerialTimeouts t = BuildTerminalTimeouts();
  EXPECT_EQ(t.ReadIntervalTimeout, 50u);
  EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(t.ReadTotalTimeoutConstant, 50u);
  EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 10u);
  EXPECT_EQ(t.WriteTotalTimeoutConstant, 40u);
}

}  // namespace
