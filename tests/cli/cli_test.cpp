// corvanel-cli as an operator's script runs it: a process of its own against the simulator,
// judged by its exit code, its output, its trace and its JSON.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "record/download_record.h"
#include "sim/frame_reader.h"
#include "tests/cli/cli_fixture.h"
#include "tests/support/sim_fixture.h"

namespace {

using namespace std::chrono_literals;

// The bytes of every write line of a trace, in order.
[[maybe_unused]] std::vector<std::vector<std::uint8_t>> TracedWrites(const std::string& trace) {
  std::vector<std::vector<std::uint8_t>> writes;
  std::istringstream lines(trace);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string time, direction;
    unsigned count = 0;
    if (!(fields >> time >> direction >> count) || direction != "write") {
      continue;
    }
    std::vector<std::uint8_t> bytes;
    std::string hex;
    for (unsigned i = 0; i < count && fields >> hex; ++i) {
      bytes.push_back(static_cast<std::uint8_t>(std::stoul(hex, nullptr, 16)));
    }
    writes.push_back(bytes);
  }
  return writes;
}

// The value of "key" in a flat JSON object, as it is written (strings with their quotes).
[[maybe_unused]] std::string JsonField(const std::string& json, const std::string& key) {
  const std::string tag = "\"" + key + "\":";
  const auto at = json.find(tag);
  if (at == std::string::npos) {
    return "<missing>";
  }
  const auto begin = at + tag.size();
  std::size_t end = begin;
  if (json[begin] == '"') {
    end = json.find('"', begin + 1);
    while (end != std::string::npos && json[end - 1] == '\\') {
      end = json.find('"', end + 1);
    }
    ++end;
  } else {
    end = json.find_first_of(",}", begin);
  }
  return json.substr(begin, end - begin);
}

[[maybe_unused]] std::vector<std::uint8_t> Bytes(const std::string& text) {
  return {text.begin(), text.end()};
}

#ifndef CORVANEL_CLI_SLOW

// Usage errors are told apart from every outcome of a download.
TEST_F(CliTest, BadCommandLines_ExitWithCode2) {
  const std::vector<std::vector<std::string>> lines = {
      {},
      {"flash"},
      {"download"},
      {"detect", "extra"},
      {"--port", "0", "detect"},
      {"--port", "101", "detect"},
      {"--port", "COM0", "detect"},
      {"--port", "com101", "detect"},
      {"--trace"},
      {"--verbose", "detect"},
      {"history", "0"},
  };
  for (const auto& line : lines) {
    const CliResult result = Run(line);
    EXPECT_EQ(result.exitCode, 2) << ::testing::PrintToString(line);
    EXPECT_NE(result.err.find("corvanel-cli: "), std::string::npos) << result.err;
  }
}

TEST_F(CliTest, Help_ListsEveryExitCode) {
  const CliResult result = Run({"--help"});
  EXPECT_EQ(result.exitCode, 0);
  for (const char* code :
       {"\n  0 ", "\n  1 ", "\n  2 ", "\n  3 ", "\n  4 ", "\n  5 ", "\n  6 ", "\n  7 ", "130"}) {
    EXPECT_NE(result.out.find(code), std::string::npos) << code;
  }
}

#endif

// One download per fault: the exit code and the system's own text for it.
struct FaultCase {
  const char* name;
  std::vector<std::string> knobs;  // the terminal's fault plan; "none" for no terminal at all
  std::optional<std::string> check, dial;  // answers to "AT" and the dial, when not the default
  std::vector<std::uint8_t> file;          // empty: 3,000 bytes that start with 'L'
  int exitCode;
  const char* text;  // a line the operator sees
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

class CliFaultTest : public CliTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(CliFaultTest, ExitsWithItsCode) {
  const FaultCase& c = GetParam();
  if (c.knobs == std::vector<std::string>{"none"}) {
    StartSim({});
  } else {
    sim::DeviceConfig config;
    config.faults = Faults(c.knobs);
    if (c.check) {
      config.check = *c.check;
    }
    if (c.dial) {
      config.dial = *c.dial;
    }
    StartSim({config});
  }
  std::vector<std::uint8_t> bytes = c.file;
  if (bytes.empty()) {
    bytes = RandomBytes(3000, 7);
    bytes[0] = 'L';
  }
  const std::string file = MakeFile(bytes);
  const CliResult result = Run({"download", file, "--trace", TracePath()});
  EXPECT_EQ(result.exitCode, c.exitCode) << result.out << result.err << ReadFile(TracePath());
  EXPECT_NE(result.out.find(c.text), std::string::npos) << result.out;
}

std::string CaseName(const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; }

#ifndef CORVANEL_CLI_SLOW
INSTANTIATE_TEST_SUITE_P(
    Fast, CliFaultTest,
    ::testing::Values(
        FaultCase{"NoTerminal", {"none"}, {}, {}, {}, 4, "No terminal connected."},
        FaultCase{"NoOk",
                  {},
                  "\r\nERROR\r\n",
                  {},
                  {},
                  5,
                  "Terminal is either not responding or not connected to PC."},
        FaultCase{"NoConnect",
                  {},
                  {},
                  "\r\nNO CARRIER\r\n",
                  {},
                  6,
                  "Connection establishment with handset failed."},
        FaultCase{"HangUp", {"data:1=hangup"}, {}, {}, {}, 7, "Transfer failed."},
        FaultCase{"ColonFile", {}, {}, {}, Bytes(":10000000"), 3, "Eroor: Invalid software file."},
        FaultCase{"OversizeFile",
                  {},
                  {},
                  {},
                  std::vector<std::uint8_t>(819201, 'L'),
                  3,
                  "Eroor: Invalid software file."}),
    CaseName);
#else
INSTANTIATE_TEST_SUITE_P(
    Slow, CliFaultTest,
    ::testing::Values(FaultCase{
        "SilentHandset", {"begin=silence"}, {}, {}, {}, 7, "Transfer failed."}),
    CaseName);
#endif

#ifndef CORVANEL_CLI_SLOW

// After the dial, the trace holds exactly the frames of the begin request, the one data block
// and the end request, as the handset's own frame writer builds them.
TEST_F(CliTest, Trace_HoldsTheExactFramesSent) {
  StartTerminal();
  const std::string file = MakeFile(Bytes("abc"));
  const CliResult result = Run({"download", file, "--trace", TracePath()});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;

  const auto writes = TracedWrites(ReadFile(TracePath()));
  ASSERT_GE(writes.size(), 3u);
  EXPECT_EQ(writes[writes.size() - 4], Bytes("ATD**60\r\n"));
  const std::vector<std::vector<std::uint8_t>> frames(writes.end() - 3, writes.end());
  EXPECT_EQ(frames[0], sim::BuildFrame({0x0A, 0x0A, 0x00, 0x04}));
  EXPECT_EQ(frames[1], sim::BuildFrame({0x0D, 0x0D, 0x00, 0x09, 0x00, 0x00, 0x61, 0x62, 0x63}));
  EXPECT_EQ(frames[2], sim::BuildFrame({0x0B, 0x0B, 0x00, 0x06, 0x9E, 0x25}));
}

// A failed transfer as JSON: block 1 is acknowledged with the number of block 0 three times.
TEST_F(CliTest, Json_ReportsOutcomePortBytesBlocksRetriesResultFailureAndSeconds) {
  StartTerminal({"data:1=seq:0"});
  std::vector<std::uint8_t> bytes = RandomBytes(3000, 3);
  bytes[0] = 'L';
  const CliResult result = Run({"--json", "--trace", TracePath(), "download", MakeFile(bytes)});
  EXPECT_EQ(result.exitCode, 7);
  // Standard output holds the object alone; the stage lines went to standard error, the second
  // scan's line first.
  ASSERT_EQ(result.out.find('{'), 0u) << result.out;
  EXPECT_EQ(result.out.find('\n'), result.out.size() - 1) << result.out;
  EXPECT_EQ(result.err.find("Looking for the terminal...\nChecking the terminal...\n"), 0u)
      << result.err;
  EXPECT_NE(result.err.find("Transfer failed."), std::string::npos);
  // Where it failed, in the object and as the trace's last line.
  EXPECT_NE(result.out.find("\"failure\":{\"stage\":\"data\",\"block\":1,\"attempt\":3,"
                            "\"reason\":\"other-sequence\"}"),
            std::string::npos)
      << result.out;
  const std::vector<std::string> records = RecordLines();
  ASSERT_EQ(records.size(), 1u);
  EXPECT_NE(records[0].find("\"failure\":{\"stage\":\"data\",\"block\":1,\"attempt\":3,"
                            "\"reason\":\"other-sequence\"}"),
            std::string::npos)
      << records[0];
  const std::string trace = ReadFile(TracePath());
  const std::string last = " fail  stage data block 1 attempt 3 reason other-sequence result 2\n";
  ASSERT_GE(trace.size(), last.size());
  EXPECT_EQ(trace.substr(trace.size() - last.size()), last) << trace;
  EXPECT_EQ(JsonField(result.out, "outcome"), "\"transfer-failed\"");
  EXPECT_EQ(JsonField(result.out, "exit_code"), "7");
  EXPECT_EQ(JsonField(result.out, "port"), "\"\\\\\\\\.\\\\COM9\"");
  EXPECT_EQ(JsonField(result.out, "bytes"), "1024");
  EXPECT_EQ(JsonField(result.out, "blocks"), "1");
  EXPECT_EQ(JsonField(result.out, "retries"), "2");
  EXPECT_EQ(JsonField(result.out, "result"), "2");  // another sequence number
  EXPECT_GT(std::stod(JsonField(result.out, "seconds")), 0.0);
}

// --port N asks COM N alone, passing over a terminal on a lower port that a scan would pick.
TEST_F(CliTest, PortNumber_LimitsTheScanToThatPort) {
  sim::DeviceConfig low, high;
  low.comNumber = 3;
  high.comNumber = 9;
  StartSim({low, high});
  const CliResult result = Run({"detect", "--port", "9"});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  // The window's words, then the port.
  EXPECT_EQ(result.out.find("Connected with terminal.\nPort: \\\\.\\COM9 (device "), 0u)
      << result.out;
  EXPECT_NE(result.out.find("Answer: \\r\\nTARVENIX-9505"), std::string::npos) << result.out;
  EXPECT_EQ(Stats(3).opens, 0u);

  EXPECT_EQ(Run({"detect", "--port", "5"}).exitCode, 4);
}

// A port that refuses the line settings (here a file that is no terminal) is named with why,
// on standard error, while standard output and the exit code stay those of no terminal.
TEST_F(CliTest, DetectWithARefusedPort_NamesItAndWhy) {
  StartTerminal();
  std::ofstream(m_sim.ComDir() + "/COM5") << "not a terminal\n";
  const std::string reason = "line settings refused: tcsetattr failed (ENOTTY)";
  const CliResult result = Run({"detect", "--port", "5"});
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_EQ(result.out.find("No terminal connected.\n"), 0u) << result.out;
  EXPECT_EQ(result.out.find("COM5"), std::string::npos) << result.out;
  EXPECT_EQ(result.err.find("\\\\.\\COM5 (device " + m_sim.ComDir() + "/COM5"), 0u) << result.err;
  EXPECT_NE(result.err.find("): " + reason + "\n"), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("\ncorvanel-cli doctor shows"), std::string::npos) << result.err;
  EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 2) << result.err;

  const CliResult json = Run({"--json", "detect", "--port", "5"});
  EXPECT_EQ(json.exitCode, 4);
  EXPECT_NE(json.out.find("\"refused\":[{\"port\":\"\\\\\\\\.\\\\COM5\",\"device\":\"" +
                          m_sim.ComDir() + "/COM5\",\"reason\":\"" + reason + "\"}],"),
            std::string::npos)
      << json.out;
}

// A port that another program holds is named as such, not taken for an absent one.
TEST_F(CliTest, DetectWithAPortHeldElsewhere_NamesIt) {
  StartTerminal();
  const int held = ::open((m_sim.ComDir() + "/COM9").c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(held, 0);
  ASSERT_EQ(::flock(held, LOCK_EX | LOCK_NB), 0);
  const CliResult result = Run({"detect", "--port", "9"});
  ::close(held);
  EXPECT_EQ(result.exitCode, 4);
  EXPECT_NE(result.err.find("\\\\.\\COM9 (device "), std::string::npos) << result.err;
  EXPECT_NE(result.err.find("): held by another program\n"), std::string::npos) << result.err;
}

// A terminal that goes away mid-transfer ends the download at that attempt with its own reason,
// and the trace says when and why.
TEST_F(CliTest, HangUpMidTransfer_IsPortLostAtTheFirstAttempt) {
  StartTerminal({"data:1=hangup"});
  const CliResult result =
      Run({"--json", "--trace", TracePath(), "download", MakeFile(RandomBytes(3000, 3))});
  EXPECT_EQ(result.exitCode, 7) << result.err;
  EXPECT_NE(
      result.out.find(R"("failure":{"stage":"data","block":1,"attempt":1,"reason":"port-lost"})"),
      std::string::npos)
      << result.out;
  const std::string trace = ReadFile(TracePath());
  EXPECT_NE(trace.find(" gone  \\\\.\\COM9 device gone ("), std::string::npos) << trace;
  EXPECT_NE(trace.find(" fail  stage data block 1 attempt 1 reason port-lost result "),
            std::string::npos)
      << trace;
}

// --port DEVICE reaches a device outside the COM mapping, and the whole download runs on it.
TEST_F(CliTest, PortDevicePath_DownloadsThroughThatDevice) {
  sim::DeviceConfig low, high;
  low.comNumber = 3;
  high.comNumber = 9;
  StartSim({low, high});
  const std::string device = Terminal(9).SlavePath();
  const std::vector<std::uint8_t> bytes = {'L', 1, 2, 3};
  const CliResult result = Run({"download", MakeFile(bytes), "--port", device, "--json"});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(JsonField(result.out, "port"), "\"" + device + "\"");
  EXPECT_EQ(Stats(9).image, bytes);
  EXPECT_EQ(Stats(3).opens, 0u);
}

// A file name that is not UTF-8 (Linux allows any byte but '/' and NUL) downloads, and --json
// stays valid: the stray byte is written as the escape --help names, the valid letters as they are.
TEST_F(CliTest, NonUtf8FileName_DownloadsWithValidJson) {
  StartTerminal();
  const std::vector<std::uint8_t> bytes = {'L', 4, 5, 6};
  const std::string path = MakeFile(bytes, "obraz-\xFF-\xC5\x82\xD0\xB4.ldr");
  const CliResult result = Run({"--json", "download", path});
  EXPECT_EQ(result.exitCode, 0) << result.out << result.err;
  EXPECT_EQ(Stats().image, bytes);
  EXPECT_EQ(JsonField(result.out, "file"),
            "\"" + TempDir() + "/obraz-\\udcff-\xC5\x82\xD0\xB4.ldr\"");
  EXPECT_EQ(result.out.find('\xFF'), std::string::npos) << result.out;
}

// A reader that goes away mid-download (`corvanel-cli download F | head -1`) costs its lines,
// not the download: the handset gets the whole file and its end request, and the exit code is
// the download's.
TEST_F(CliTest, OutputPipeClosed_DownloadFinishes) {
  StartTerminal();
  std::vector<std::uint8_t> bytes = RandomBytes(5000, 13);
  bytes[0] = 'L';
  const std::string file = MakeFile(bytes);
  int output[2];
  ASSERT_EQ(pipe(output), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, output[1], 1);
  posix_spawn_file_actions_addclose(&actions, output[0]);
  posix_spawn_file_actions_addopen(&actions, 2, ErrPath().c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0600);
  std::string exe = CORVANEL_CLI_EXE, command = "download";
  char* argv[] = {exe.data(), command.data(), const_cast<char*>(file.c_str()), nullptr};
  pid_t pid = -1;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  close(output[1]);
  ASSERT_EQ(spawned, 0);
  // The first line, as `head -1` reads it, then the reader is gone.
  char c = 0;
  while (read(output[0], &c, 1) == 1 && c != '\n') {
  }
  close(output[0]);
  const CliResult result = Wait(pid);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_TRUE(Stats().endReceived);
  EXPECT_EQ(Stats().image, bytes);
}

// On a terminal the transfer shows one live line, redrawn in place, up to the last block.
TEST_F(CliTest, OnATerminal_ShowsALiveProgressLine) {
  StartTerminal();
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(master, 0);
  ASSERT_EQ(grantpt(master), 0);
  ASSERT_EQ(unlockpt(master), 0);
  const std::string terminal = ptsname(master);
  std::vector<std::uint8_t> bytes = RandomBytes(3000, 9);  // 3 blocks; the bar's range is 0 to 2
  bytes[0] = 'L';
  const CliResult result = Wait(Start({"download", MakeFile(bytes)}, terminal));
  std::string screen;
  char chunk[4096];
  for (ssize_t n; (n = read(master, chunk, sizeof chunk)) > 0;) {
    screen.append(chunk, static_cast<std::size_t>(n));
  }
  close(master);
  EXPECT_EQ(result.exitCode, 0);
  EXPECT_NE(screen.find("\r 50%  block 1 of 3  "), std::string::npos) << screen;
  // The last drawing ends with the retries, and the next stage starts on a line of its own.
  const auto last = screen.rfind("\r100%  block 3 of 3  ");
  ASSERT_NE(last, std::string::npos) << screen;
  const auto end = screen.find("\r\nTransfer completed.", last);
  ASSERT_NE(end, std::string::npos) << screen;
  EXPECT_NE(screen.substr(last, end - last).find(" left  0 retries"), std::string::npos) << screen;
}

// A download leaves one record with what support asks for, and the trace it names holds the
// very events --trace wrote.
TEST_F(CliTest, Download_LeavesOneRecordAndItsTrace) {
  StartTerminal();
  // A port the scan passes by, refused, before the terminal.
  std::ofstream(m_sim.ComDir() + "/COM5") << "not a terminal\n";
  std::vector<std::uint8_t> bytes = RandomBytes(3000, 21);
  bytes[0] = 'L';
  const std::string file = MakeFile(bytes);
  const CliResult result = Run({"download", file, "--trace", TracePath()});
  ASSERT_EQ(result.exitCode, 0) << result.out << result.err;

  const std::vector<std::string> lines = RecordLines();
  ASSERT_EQ(lines.size(), 1u);
  DownloadRecord r;
  ASSERT_TRUE(ReadRecordLine(lines[0], r)) << lines[0];
  EXPECT_EQ(r.program, "corvanel-cli");
  EXPECT_EQ(r.version, CorvanelVersion());
  EXPECT_EQ(r.port, "\\\\.\\COM9");
  EXPECT_EQ(r.device, m_sim.ComDir() + "/COM9");
  EXPECT_EQ(r.answer, "\r\nTARVENIX-9505\r\n\r\nOK\r\n");
  EXPECT_EQ(r.file, file);
  EXPECT_EQ(r.fileBytes, 3000u);
  EXPECT_EQ(r.fileFcs, Stats().imageFcs);
  EXPECT_EQ(r.outcome, "completed");
  EXPECT_EQ(r.status, "Transfer completed.");
  EXPECT_EQ(r.code, 0);
  EXPECT_FALSE(r.failure.has_value());
  EXPECT_EQ(r.blocks, 3u);
  EXPECT_EQ(r.retries, 0u);
  EXPECT_GT(r.seconds, 0.0);
  EXPECT_EQ(r.start.size(), std::string("2025-01-02T03:04:05.678Z").size()) << r.start;
  EXPECT_EQ(r.trace, "trace-" + r.start.substr(0, 4) + r.start.substr(5, 2) + r.start.substr(8, 5) +
                         r.start.substr(14, 2) + r.start.substr(17) + ".txt");

  // Both traces without their times (each counts from its own start).
  const auto events = [](const std::string& trace) {
    std::vector<std::string> out;
    std::istringstream in(trace);
    for (std::string line; std::getline(in, line);) {
      out.push_back(line.substr(line.find_first_not_of(" 0123456789.")));
    }
    return out;
  };
  const std::vector<std::string> traced = events(ReadFile(TracePath()));
  EXPECT_EQ(events(ReadFile(RecordFolder() + "/" + r.trace)), traced);
  EXPECT_GT(traced.size(), 10u);
  EXPECT_NE(std::find(traced.begin(), traced.end(),
                      "refused \\\\.\\COM5 line settings refused: tcsetattr failed (ENOTTY)"),
            traced.end());
}

// `history` shows each download with its outcome, oldest first; N limits it; --json gives the
// records' own lines. A scan that found no terminal is where that download failed, in --json
// and in the record alike: no attempt and no reason, for nothing was asked of any port.
TEST_F(CliTest, History_ShowsEachDownloadWithItsOutcome) {
  StartTerminal();
  const std::string file = MakeFile(Bytes("LDR"));
  const CliResult none = Run({"--json", "--port", "5", "download", file});
  EXPECT_EQ(none.exitCode, 4);
  const std::string scan = R"({"stage":"scan","block":null,"attempt":null,"reason":null})";
  EXPECT_NE(none.out.find("\"failure\":" + scan + ","), std::string::npos) << none.out;
  EXPECT_EQ(Run({"download", file}).exitCode, 0);

  const CliResult table = Run({"history"});
  EXPECT_EQ(table.exitCode, 0) << table.err;
  std::vector<std::string> rows;
  std::istringstream in(table.out);
  for (std::string line; std::getline(in, line);) {
    rows.push_back(line);
  }
  ASSERT_EQ(rows.size(), 3u) << table.out;
  EXPECT_EQ(rows[0].find("START (UTC)"), 0u) << rows[0];
  EXPECT_NE(rows[1].find(" no-terminal "), std::string::npos) << rows[1];
  EXPECT_NE(rows[2].find(" COM9 "), std::string::npos) << rows[2];
  EXPECT_NE(rows[2].find(" completed "), std::string::npos) << rows[2];

  const CliResult last = Run({"history", "1"});
  EXPECT_EQ(last.out.find('\n', last.out.find('\n') + 1), last.out.size() - 1) << last.out;
  EXPECT_NE(last.out.find(" completed "), std::string::npos) << last.out;

  const std::vector<std::string> lines = RecordLines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_NE(lines[0].find("\"failure\":" + scan), std::string::npos) << lines[0];
  EXPECT_EQ(Run({"history", "--json"}).out, lines[0] + "\n" + lines[1] + "\n");
}

// `history N` shows the last N records that read, passing by a line torn by a full disk, and
// shows a control character in a file name escaped, never raw; --json gives only lines that read.
TEST_F(CliTest, History_PassesTornLinesAndEscapesControlCharacters) {
  DownloadRecord record;
  record.start = "2026-12-08T03:15:15.213Z";
  record.outcome = "completed";
  record.file = "/tmp/first.ldr";
  const std::string first = FormatRecordLine(record);
  record.file = "/tmp/x\x1B[2Jy\n.ldr";
  const std::string second = FormatRecordLine(record);
  std::filesystem::create_directories(RecordFolder());
  std::ofstream(RecordFolder() + "/upgrades.jsonl", std::ios::binary)
      << first << "\n{\"start\":\"2026-12\n"
      << second << "\n"
      << first.substr(0, 30);

  const CliResult table = Run({"history", "2"});
  EXPECT_EQ(table.exitCode, 0) << table.err;
  EXPECT_EQ(std::count(table.out.begin(), table.out.end(), '\n'), 3) << table.out;
  EXPECT_NE(table.out.find(" first.ldr\n"), std::string::npos) << table.out;
  EXPECT_NE(table.out.find(" x\\x1B[2Jy\\x0A.ldr\n"), std::string::npos) << table.out;
  EXPECT_EQ(table.out.find('\x1B'), std::string::npos) << table.out;
  EXPECT_EQ(Run({"history", "--json"}).out, first + "\n" + second + "\n");
}

// Under a desktop's locale that writes a decimal comma, what is written for a machine keeps its
// point: --json's seconds, the record, and history reads it back.
class CliLocaleTest : public CliTest, public ::testing::WithParamInterface<const char*> {
 protected:
  void TearDown() override {
    unsetenv("LC_ALL");
    CliTest::TearDown();
  }
};

TEST_P(CliLocaleTest, JsonRecordAndHistory_KeepTheDecimalPoint) {
  setenv("LC_ALL", GetParam(), 1);
  StartTerminal();
  const CliResult result = Run({"--json", "download", MakeFile(Bytes("LDR"))});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  const std::string seconds = JsonField(result.out, "seconds");
  EXPECT_EQ(seconds.find_first_not_of("0123456789."), std::string::npos) << result.out;
  EXPECT_EQ(seconds.size() - seconds.find('.'), 4u) << result.out;
  const std::vector<std::string> lines = RecordLines();
  ASSERT_EQ(lines.size(), 1u);
  DownloadRecord r;
  EXPECT_TRUE(ReadRecordLine(lines[0], r)) << lines[0];
  const CliResult table = Run({"history"});
  EXPECT_NE(table.out.find(" completed "), std::string::npos) << table.out;
}

std::string LocaleName(const ::testing::TestParamInfo<const char*>& param) {
  return std::string(param.param).substr(0, 5);
}
INSTANTIATE_TEST_SUITE_P(Desktops, CliLocaleTest, ::testing::Values("de_DE.UTF-8", "tr_TR.UTF-8"),
                         LocaleName);

// A state folder that cannot be made costs the record, not the download, and says so once.
TEST_F(CliTest, UnwritableStateFolder_DownloadsAndSaysSoOnce) {
  StartTerminal();
  { std::ofstream(StateHome()) << "a file where the folder would go"; }
  const std::vector<std::uint8_t> bytes = {'L', 7, 8, 9};
  const CliResult result = Run({"download", MakeFile(bytes)});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(Stats().image, bytes);
  const std::string warning = "corvanel-cli: recording this download failed: ";
  const auto at = result.err.find(warning);
  EXPECT_NE(at, std::string::npos) << result.err;
  EXPECT_EQ(result.err.find(warning, at + 1), std::string::npos) << result.err;
}

// --no-record leaves the state folder alone.
TEST_F(CliTest, NoRecord_LeavesNothingInTheStateFolder) {
  StartTerminal();
  const CliResult result = Run({"--no-record", "download", MakeFile(Bytes("LDR"))});
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_FALSE(std::filesystem::exists(StateHome()));
}

// Ctrl-C in the middle of a transfer: exit 130, and nothing more reaches the handset.
TEST_F(CliTest, SigintMidTransfer_Exits130AndSendsNothingMore) {
  StartTerminal({"data:3=delay:4000"});
  std::vector<std::uint8_t> bytes = RandomBytes(10 * 1024, 5);
  bytes[0] = 'L';
  const pid_t pid = Start({"download", MakeFile(bytes)});
  // Block 3 is in; its answer is held back while the signal comes.
  ASSERT_TRUE(Terminal().WaitFor([](const sim::DeviceStats& s) { return s.dataFrames >= 4; }, 60s));
  kill(pid, SIGINT);
  const CliResult result = Wait(pid);
  EXPECT_EQ(result.exitCode, 130);
  // The process was waiting for that answer when it ended; its port closed with it.
  ASSERT_TRUE(Terminal().WaitFor([](const sim::DeviceStats& s) { return s.closes >= 1; }, 60s));
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.dataFrames, 4u);
  EXPECT_EQ(stats.endFrames, 0u);
}

#endif

}  // namespace
