// corvanel-cli station against a bench of simulated terminals: every unit's download as a
// download's own, units that fail or are pulled out leave the others alone, terminals plugged in
// are taken, and the event lines follow their schema.
#include "cli/station.h"

#include <sys/file.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>

#include "record/record_line.h"
#include "tests/cli/cli_fixture.h"
#include "text/json_text.h"

namespace {

constexpr auto kEventDeadline = 60s;  // far above any unit's download here

class StationTest : public CliTest {
 protected:
  // Terminals on COM first..last, plugged in unless listed in `unplugged`.
  void StartBench(int first, int last, const std::vector<int>& unplugged = {},
                  const std::map<int, std::vector<std::string>>& faults = {}) {
    std::vector<sim::DeviceConfig> devices;
    for (int com = first; com <= last; ++com) {
      sim::DeviceConfig config;
      config.comNumber = com;
      config.plugged = std::find(unplugged.begin(), unplugged.end(), com) == unplugged.end();
      if (const auto it = faults.find(com); it != faults.end()) {
        config.faults = Faults(it->second);
      }
      devices.push_back(config);
    }
    StartSim(devices);
  }

  // The event lines so far.
  std::vector<JsonObject> Events() {
    std::vector<JsonObject> events;
    std::istringstream in(ReadFile(OutPath()));
    for (std::string line; std::getline(in, line);) {
      JsonObject event;
      if (ReadJsonObject(line, event)) {
        events.push_back(std::move(event));
      }
    }
    return events;
  }

  // Events of `kind` (for `port`, "COMn", when given).
  std::vector<JsonObject> EventsOf(const std::string& kind, int com = 0) {
    std::vector<JsonObject> out;
    for (JsonObject& event : Events()) {
      if (event["event"].text == kind && (com == 0 || event["port"].text == Port(com))) {
        out.push_back(std::move(event));
      }
    }
    return out;
  }

  // Waits until there are `count` events of `kind` (for `com`).
  bool WaitForEvents(const std::string& kind, std::size_t count, int com = 0) {
    const auto deadline = std::chrono::steady_clock::now() + kEventDeadline;
    while (EventsOf(kind, com).size() < count) {
      if (std::chrono::steady_clock::now() > deadline) {
        ADD_FAILURE() << "no " << count << " " << kind << " events; output:\n"
                      << ReadFile(OutPath()) << ReadFile(ErrPath());
        return false;
      }
      std::this_thread::sleep_for(10ms);
    }
    return true;
  }

  static std::string Port(int com) { return "\\\\.\\COM" + std::to_string(com); }

  // Every event line follows docs/events.schema.json.
  void ExpectValidEvents() {
    const std::string command = std::string("python3 ") + CORVANEL_SOURCE_DIR +
                                "/tests/cli/validate_events.py " + CORVANEL_SOURCE_DIR +
                                "/docs/events.schema.json " + OutPath() + " >" + TempDir() +
                                "/schema.txt 2>&1";
    EXPECT_EQ(std::system(command.c_str()), 0) << ReadFile(TempDir() + "/schema.txt");
  }
};

#ifndef CORVANEL_STATION_SLOW

// --once: every terminal there gets its download at once; one that fails fails alone.
TEST_F(StationTest, Once_UpgradesEveryTerminalAndOneFailureStaysItsOwn) {
  StartBench(2, 5, {}, {{5, {"data:2=code"}}});
  const std::vector<std::uint8_t> image = RandomBytes(5000, 1);
  const std::string file = MakeFile(image);
  const CliResult result = Run({"station", file, "--once", "--json"});
  EXPECT_EQ(result.exitCode, 7) << result.err;
  for (int com = 2; com <= 4; ++com) {
    EXPECT_EQ(Stats(com).image, image) << "COM" << com;
    ASSERT_EQ(EventsOf("end", com).size(), 1U) << "COM" << com;
    EXPECT_EQ(EventsOf("end", com)[0]["outcome"].text, "completed");
  }
  const std::vector<JsonObject> failed = EventsOf("end", 5);
  ASSERT_EQ(failed.size(), 1U);
  EXPECT_EQ(failed[0].at("status").text, "Transfer failed.");
  JsonObject failure;
  ASSERT_TRUE(ReadJsonObject(failed[0].at("failure").text, failure));
  EXPECT_EQ(failure["stage"].text, "data");
  EXPECT_EQ(failure["block"].text, "2");
  EXPECT_EQ(failure["reason"].text, "other-code");
  // The summary (its failures are an array, which the reader here does not take).
  const std::string out = ReadFile(OutPath());
  EXPECT_NE(out.find("{\"version\":1,\"event\":\"summary\",\"succeeded\":3,\"failed\":1,"),
            std::string::npos)
      << out;
  EXPECT_EQ(RecordLines().size(), 4U);                                    // one whole line per unit
  EXPECT_NE(result.err.find("COM5 ("), std::string::npos) << result.err;  // the failed list
  ExpectValidEvents();
}

// A port whose device answers as no terminal is no unit: exit 4, and neither a record line nor
// a trace left behind.
TEST_F(StationTest, OnceWithNoTerminal_Exits4AndLeavesNoRecordAndARefusedFileExits3) {
  sim::DeviceConfig other;
  other.comNumber = 2;
  other.model = "\r\nERROR\r\n";
  other.maker = "\r\nERROR\r\n";
  StartSim({other});
  const std::string file = MakeFile(RandomBytes(100, 2));
  const CliResult none = Run({"station", file, "--once"});
  EXPECT_EQ(none.exitCode, 4) << none.out << none.err;
  EXPECT_NE(none.out.find("No terminal connected."), std::string::npos) << none.out;
  EXPECT_EQ(none.out.find("Checking the terminal"), std::string::npos) << none.out;  // no unit
  EXPECT_GE(Stats(2).atCommands.size(), 1U);                                         // it was asked
  EXPECT_TRUE(RecordLines().empty());
  std::error_code ec;
  EXPECT_TRUE(std::filesystem::is_empty(RecordFolder(), ec) || ec) << RecordFolder();
  const std::string text = MakeFile({':', '1', '0'}, "text.ldr");
  const CliResult refused = Run({"station", text, "--once"});
  EXPECT_EQ(refused.exitCode, 3);
  EXPECT_NE(refused.err.find("Eroor: "), std::string::npos) << refused.err;
}

// Ctrl-C stops the running units as the window's close does: nothing more sent, ports released,
// no record line; the station ends with 130.
TEST_F(StationTest, Sigint_StopsEveryUnitAndExits130) {
  std::vector<sim::DeviceConfig> devices;
  for (int com = 2; com <= 4; ++com) {
    sim::DeviceConfig config;
    config.comNumber = com;
    config.pacing = true;
    devices.push_back(config);
  }
  StartSim(devices);
  const std::string file = MakeFile(RandomBytes(60000, 4));
  const pid_t station = Start({"station", file, "--json"});
  ASSERT_TRUE(WaitForEvents("progress", 3));
  kill(station, SIGINT);
  const CliResult result = Wait(station);
  EXPECT_EQ(result.exitCode, 130) << result.err;
  for (int com = 2; com <= 4; ++com) {
    const std::vector<JsonObject> ends = EventsOf("end", com);
    ASSERT_EQ(ends.size(), 1U);
    EXPECT_EQ(ends[0].at("outcome").text, "stopped");
    EXPECT_EQ(ends[0].at("exit_code").text, "143");
    // The unit is gone: its port is closed.
    EXPECT_TRUE(
        Terminal(com).WaitFor([](const sim::DeviceStats& s) { return s.closes >= s.opens; }, 10s));
    EXPECT_FALSE(Stats(com).endReceived);
  }
  EXPECT_TRUE(RecordLines().empty());
}

// download --wait: no terminal at the start, one plugged in later gets the download.
TEST_F(StationTest, DownloadWait_TakesATerminalPluggedInLater) {
  StartBench(9, 9, {9});
  const std::vector<std::uint8_t> image = RandomBytes(3000, 5);
  const std::string file = MakeFile(image);
  EXPECT_EQ(Run({"download", file, "--wait", "0.5"}).exitCode, 4);
  const pid_t waiting = Start({"download", "--wait", "60", file, "--events"});
  const auto deadline = std::chrono::steady_clock::now() + kEventDeadline;
  while (ReadFile(ErrPath()).find("Waiting for a terminal") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  Terminal(9).Plug();
  const CliResult result = Wait(waiting);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(Stats(9).image, image);
  ExpectValidEvents();
}

// A terminal plugged in while it still boots answers its first identification requests with
// no terminal's words: it is asked again after a pause, and downloads.
TEST_F(StationTest, ATerminalStillBootingWhenPluggedIn_IsAskedAgain) {
  StartBench(8, 9, {9}, {{9, {"model#1=text:ERROR\\r\\n", "maker#1=text:ERROR\\r\\n"}}});
  const std::vector<std::uint8_t> image = RandomBytes(3000, 7);
  const std::string file = MakeFile(image);
  const pid_t station = Start({"station", file, "--json"});
  ASSERT_TRUE(WaitForEvents("found", 1, 8));  // the station has taken its first look
  Terminal(9).Plug();
  ASSERT_TRUE(WaitForEvents("end", 1, 9));
  kill(station, SIGINT);
  EXPECT_EQ(Wait(station).exitCode, 130);
  EXPECT_EQ(EventsOf("end", 9)[0]["outcome"].text, "completed");
  EXPECT_EQ(Stats(9).image, image);
  EXPECT_EQ(Stats(8).image, image);
}

// A unit whose port another program holds ends with a code of its own, so that its station does
// not ask that port again (the other program may be upgrading the terminal); a unit on a free
// port with no terminal ends with 4.
TEST_F(StationTest, UnitOnAHeldPort_EndsWithItsOwnCode) {
  StartBench(9, 9);
  const std::string file = MakeFile(RandomBytes(100, 8));
  const int held = open((m_sim.ComDir() + "/COM9").c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(held, 0);
  ASSERT_EQ(flock(held, LOCK_EX), 0);  // as this program's own open holds a port
  const CliResult result = Run({"download", file, "--port", "9", "--unit"});
  close(held);
  EXPECT_EQ(result.exitCode, kExitUnitPortRefused) << result.out << result.err;
  EXPECT_TRUE(Stats(9).atCommands.empty());
  EXPECT_EQ(result.out.find("\"event\":\"end\""), std::string::npos) << result.out;  // no unit
}

// A terminal whose device this user may not open yet (the kernel makes a plugged-in device's
// node for root, udev gives it its group a moment later) is asked again once it opens to the
// user, not left alone as a port already asked. Needs root, to run the program as another user.
TEST_F(StationTest, DownloadWait_AsksAgainAPortThatOpensToTheUser) {
  if (geteuid() != 0) {
    GTEST_SKIP() << "needs root to run as another user";
  }
  StartBench(9, 9);
  const std::string device = std::filesystem::canonical(m_sim.ComDir() + "/COM9").string();
  ASSERT_EQ(chmod(device.c_str(), 0600), 0);
  chmod(m_sim.ComDir().c_str(), 0755);
  chmod(TempDir().c_str(), 0755);
  const std::vector<std::uint8_t> image = RandomBytes(3000, 6);
  const std::string file = MakeFile(image);
  chmod(file.c_str(), 0644);
  m_runAs = {"/usr/bin/setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"};
  const pid_t waiting = Start({"download", "--wait", "600", file, "--no-record"});
  const auto deadline = std::chrono::steady_clock::now() + kEventDeadline;
  while (ReadFile(OutPath()).find("Waiting for a terminal") == std::string::npos &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(10ms);
  }
  ASSERT_EQ(chmod(device.c_str(), 0666), 0);  // what udev's rule does
  const CliResult result = Wait(waiting);
  EXPECT_EQ(result.exitCode, 0) << result.err;
  EXPECT_EQ(Stats(9).image, image);
}

#endif  // !CORVANEL_STATION_SLOW

#ifdef CORVANEL_STATION_SLOW

// 100 pulls of units at random blocks: each fails alone with "Transfer failed." and no end
// request, and downloads again once plugged back in; the units never pulled are downloaded once,
// and a terminal plugged in during the run is taken at once.
TEST_F(StationTest, UnplugsAtRandomBlocks_FailOnlyThoseUnitsAndReplugsDownloadAgain) {
  constexpr int kFirst = 2, kSteady = 4, kLast = 9, kLate = 10;  // COM2-4 are never pulled
  constexpr int kUnplugs = 100;
  constexpr std::size_t kBlocks = 12;  // the pulls come at blocks 1 to 11
  StartBench(kFirst, kLate, {kLate});
  const std::vector<std::uint8_t> image = RandomBytes(kBlocks * 1024 - 100, 3);
  const std::string file = MakeFile(image);
  const pid_t station = Start({"station", file, "--json"});
  ASSERT_TRUE(WaitForEvents("found", kLast - kFirst + 1));
  Terminal(kLate).Plug();

  const unsigned seed = std::random_device{}();
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 random(seed);
  std::uniform_int_distribution<std::size_t> block(1, kBlocks - 1);
  std::uniform_int_distribution<int> unit(kSteady + 1, kLate);
  // Each pull is armed at a random block of the unit's next run; once that run has reported,
  // the terminal is plugged back in with the next pull armed, until all are spent.
  std::map<int, int> pulls;  // per terminal
  std::map<int, int> planned;
  for (int i = 0; i < kUnplugs; ++i) {
    ++planned[unit(random)];
  }
  for (const auto& [com, count] : planned) {
    Terminal(com).UnplugAtBlocks(block(random));
  }
  int unplugs = 0;
  const auto deadline = std::chrono::steady_clock::now() + 300s;
  while (unplugs < kUnplugs && std::chrono::steady_clock::now() < deadline) {
    for (int com = kSteady + 1; com <= kLate; ++com) {
      if (pulls[com] == planned[com] ||
          Stats(com).unplugs == static_cast<std::size_t>(pulls[com])) {
        continue;  // done, or its pull has not come yet
      }
      ++pulls[com];
      ++unplugs;
      ASSERT_TRUE(WaitForEvents("end", static_cast<std::size_t>(pulls[com]), com));
      if (pulls[com] < planned[com]) {
        Terminal(com).UnplugAtBlocks(block(random));
      } else {
        Terminal(com).UnplugAtBlocks(0);
      }
      Terminal(com).Plug();
    }
    std::this_thread::sleep_for(1ms);
  }
  ASSERT_EQ(unplugs, kUnplugs);
  for (int com = kFirst; com <= kLate; ++com) {
    ASSERT_TRUE(WaitForEvents("end", static_cast<std::size_t>(pulls[com]) + 1, com));
  }
  kill(station, SIGTERM);
  EXPECT_EQ(Wait(station).exitCode, 143);

  for (int com = kFirst; com <= kLate; ++com) {
    SCOPED_TRACE("COM" + std::to_string(com));
    const std::vector<JsonObject> ends = EventsOf("end", com);
    int completed = 0;
    for (const JsonObject& end : ends) {
      if (end.at("outcome").text == "completed") {
        ++completed;
        continue;
      }
      EXPECT_EQ(end.at("status").text, "Transfer failed.");
      JsonObject failure;
      ASSERT_TRUE(ReadJsonObject(end.at("failure").text, failure));
      EXPECT_EQ(failure["stage"].text, "data");
      EXPECT_EQ(failure["reason"].text, "port-lost");
    }
    EXPECT_EQ(completed, 1);  // never downloaded twice
    EXPECT_EQ(ends.size(), static_cast<std::size_t>(pulls[com]) + 1);
    const sim::DeviceStats stats = Stats(com);
    EXPECT_EQ(stats.endFrames, 1U);  // the pulled runs sent no end request
    EXPECT_EQ(stats.image, image);
  }
  // Every unit's record line whole, though many finished together and pruned each other's
  // traces as they went.
  const std::vector<std::string> records = RecordLines();
  EXPECT_EQ(records.size(), EventsOf("end").size());
  for (const std::string& line : records) {
    DownloadRecord record;
    EXPECT_TRUE(ReadRecordLine(line, record)) << line;
  }
  EXPECT_TRUE(EventsOf("warning").empty()) << ReadFile(OutPath());
  ExpectValidEvents();
}

#endif  // CORVANEL_STATION_SLOW

}  // namespace
