// One download from the press of the button to the report, through the simulator and a recorded
// window: one case for each outcome the operator can meet.
#include "download/download_worker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <fstream>
#include <functional>
#include <ostream>
#include <thread>

#include "download/block_transfer.h"
#include "download/control_ids.h"
#include "download/messages.h"
#include "serial/serial_port.h"
#include "serial/terminal_detection.h"
#include "tests/support/recording_link.h"
#include "tests/support/sim_fixture.h"
#include "tests/support/test_names.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

const std::string kBoxSoftwareFile = "box none Error|Please enter the software file.";

std::string Text(int id, const std::string& text) {
  return "text " + std::to_string(id) + " " + text;
}
std::string Enable(int id, bool on) { return "enable " + std::to_string(id) + (on ? " 1" : " 0"); }

// The changes StartDownload makes when it starts a worker and detection finds the terminal.
const std::vector<std::string> kBusy{Text(IDC_DOWNLOAD, kCaptionBusy), Enable(IDC_DOWNLOAD, false),
                                     Enable(IDC_BROWSE, false)};

class WorkerTest : public SimFixture {
 protected:
  void SetUp() override {
    SetMainWindowLink(&m_link);
    SetWorkerStarter([this](std::function<void()> body) {
      if (m_failStart) {
        return false;
      }
      ++m_started;
      if (m_holdWorker) {
        m_heldBody = std::move(body);
      } else {
        m_worker = std::thread(std::move(body));
      }
      return true;
    });
  }

  void TearDown() override {
    JoinWorker();
    SetWorkerStarter(nullptr);
    SetMainWindowLink(nullptr);
    std::memset(g_replyBuffer.data(), 0, g_replyBuffer.size());
    SimFixture::TearDown();
  }

  void JoinWorker() {
    if (m_worker.joinable()) {
      m_worker.join();
    }
  }

  // Presses Download with this path in the path box and waits for the worker to end.
  void Download(const std::string& path) {
    m_link.Type(IDC_PATH, path);
    StartDownload();
    m_returned = Clock::now();
    JoinWorker();
  }

  std::vector<std::string> Events() { return m_link.Events(); }

  // The events from the first one equal to `from` on.
  std::vector<std::string> EventsFrom(const std::string& from) {
    const auto all = Events();
    auto it = std::find(all.begin(), all.end(), from);
    return std::vector<std::string>(it, all.end());
  }

  std::vector<sim::AtCommand> Commands(const std::string& line) {
    std::vector<sim::AtCommand> out;
    for (const auto& c : Stats().atCommands) {
      if (c.line == line) {
        out.push_back(c);
      }
    }
    return out;
  }

  void StartWith(const std::vector<std::string>& knobs, const char* check = "\r\nOK\r\n",
                 const char* dial = "\r\nCONNECT 9600\r\n") {
    sim::DeviceConfig config;
    config.comNumber = 9;
    config.faults = Faults(knobs);
    config.check = std::string(check);
    config.dial = std::string(dial);
    StartSim({config});
    // The start-up detection of the main window, which leaves the port open.
    ASSERT_EQ(DetectTerminal(), DETECT_FOUND);
  }

  CRecordingLink m_link;
  std::thread m_worker;
  std::function<void()> m_heldBody;
  bool m_holdWorker = false;
  bool m_failStart = false;
  int m_started = 0;
  Clock::time_point m_returned{};
};

// Refusals before any worker starts.

TEST_F(WorkerTest, EmptyPath_AsksForTheFileAndStartsNothing) {
  StartWith({});
  const std::size_t opens = Stats().opens;
  Download("");
  EXPECT_EQ(Events(), (std::vector<std::string>{kBoxSoftwareFile, Text(IDC_PATH, "")}));
  EXPECT_EQ(m_started, 0);
  EXPECT_EQ(Stats().opens, opens);  // no detection ran
}

struct RefusedPath {
  const char* name;
  std::string path;
};

class RefusedPaths : public WorkerTest, public ::testing::WithParamInterface<RefusedPath> {};

TEST_P(RefusedPaths, AsksForTheFileEmptiesThePathBoxAndLeavesTheButtons) {
  StartWith({});
  std::string path = GetParam().path;
  if (path == "dir") {
    path = TempDir();
  } else if (path == "fifo") {
    // Opening a FIFO would wait for a writer on the UI thread.
    path = TempDir() + "/pipe.ldr";
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
  } else if (path == "long") {
    // 300 characters naming a real file: never cut into the name of another file.
    const std::string dir = TempDir() + "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    path = dir + "/" + std::string(300 - dir.size() - 1, 'f');
    ASSERT_EQ(path.size(), 300u);
    MakeFile({1, 2, 3}, std::string(200, 'd') + "/" + std::string(300 - dir.size() - 1, 'f'));
    ASSERT_EQ(access(path.c_str(), R_OK), 0);
    // The same path cut to 299 bytes names another file, which must not be taken.
    MakeFile({4, 5, 6}, std::string(200, 'd') + "/" + std::string(300 - dir.size() - 2, 'f'));
  }
  Download(path);
  EXPECT_EQ(Events(), (std::vector<std::string>{kBoxSoftwareFile, Text(IDC_PATH, "")}));
  EXPECT_EQ(m_started, 0);
  EXPECT_TRUE(m_link.Enabled(IDC_DOWNLOAD));
  EXPECT_TRUE(m_link.Enabled(IDC_BROWSE));
}

INSTANTIATE_TEST_SUITE_P(Paths, RefusedPaths,
                         ::testing::Values(RefusedPath{"Missing", "/tmp/corvanel-no-such-file.ldr"},
                                           RefusedPath{"Directory", "dir"},
                                           RefusedPath{"Fifo", "fifo"},
                                           RefusedPath{"LongerThan299Characters", "long"}),
                         ByName{});

// The path box's limit counts characters, not bytes: 299 letters of two bytes each name a file
// that downloads (on Windows such a path comes from the file dialog as it is).
TEST_F(WorkerTest, PathOf299CharactersBeyond299Bytes_Downloads) {
  StartWith({});
  const std::string letter = "\xC5\x82";  // U+0142, two bytes
  std::string relative;
  std::size_t characters = TempDir().size() + 1;
  constexpr std::size_t kComponent = 100;  // 200 bytes: within a file system's name limit
  while (characters < 299) {
    const std::size_t n = std::min(kComponent, 299 - characters);
    std::string name;
    for (std::size_t i = 0; i < n; ++i) name += letter;
    relative += name;
    characters += n;
    if (characters < 299) {
      ASSERT_EQ(mkdir((TempDir() + "/" + relative).c_str(), 0700), 0);
      relative += "/";
      ++characters;
    }
  }
  const std::string path = MakeFile(RandomBytes(1500, 5), relative);
  ASSERT_EQ(Utf8CharacterCount(path), 299u);
  ASSERT_GT(path.size(), 299u);
  Download(path);
  EXPECT_EQ(m_link.Text(IDC_STATUS), kStatusTransferDone);
  EXPECT_TRUE(Stats().endReceived);
}

// Files that are no upgrade file: a text image (first byte ':'), and one that cannot fit the
// image buffer.
struct InvalidFile {
  const char* name;
  Bytes bytes;
};

void PrintTo(const InvalidFile& row, std::ostream* os) { *os << row.name; }

class InvalidFiles : public WorkerTest, public ::testing::WithParamInterface<InvalidFile> {};

TEST_P(InvalidFiles, RefusedWithEroorButtonsEnabledAndTheTerminalUntouched) {
  StartWith({});
  const std::size_t opens = Stats().opens;
  Download(MakeFile(GetParam().bytes));
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"box main Eroor|" + std::string(kBoxInvalidFile),
                                      Enable(IDC_DOWNLOAD, true), Enable(IDC_BROWSE, true)}));
  EXPECT_EQ(m_started, 0);
  EXPECT_EQ(Stats().opens, opens);
  EXPECT_TRUE(g_terminalPort.IsOpen());  // as detection left it
}

INSTANTIATE_TEST_SUITE_P(Files, InvalidFiles,
                         ::testing::Values(InvalidFile{"Colon", {':', '1', '0'}},
                                           InvalidFile{"OneByteBeyondTheImageBuffer",
                                                       Bytes(kImageBufferSize + 1, 7)}),
                         ByName{});

TEST_F(WorkerTest, FileFillingTheImageBuffer_IsAccepted) {
  StartWith({});
  m_holdWorker = true;  // the refusal is the question here, not the 800 blocks
  Download(MakeFile(Bytes(kImageBufferSize, 7)));
  EXPECT_EQ(m_started, 1);
  EXPECT_EQ(Events(), kBusy);
}

TEST_F(WorkerTest, NoThread_BoxCaptionedWithTheAppNameAndWindowUnchanged) {
  StartWith({});
  m_failStart = true;
  Download(MakeFile({1, 2, 3}));
  EXPECT_EQ(Events(),
            (std::vector<std::string>{"box main Corvanel|Not able to create Download thread. "}));
}

// The worker's own refusals of the file.

// What can take the file's place between the press of the button and the worker's open.
enum class Swap { Removed, Fifo };

struct SwappedFile {
  const char* name;
  Swap swap;
};

void PrintTo(const SwappedFile& row, std::ostream* os) { *os << row.name; }

class SwappedFiles : public WorkerTest, public ::testing::WithParamInterface<SwappedFile> {};

TEST_P(SwappedFiles, WorkersOpenFails_AsksForTheFileAndStaysBusy) {
  StartWith({});
  const std::string path = MakeFile({1, 2, 3});
  m_holdWorker = true;
  m_link.Type(IDC_PATH, path);
  StartDownload();
  ASSERT_EQ(m_started, 1);
  ASSERT_EQ(std::remove(path.c_str()), 0);
  if (GetParam().swap == Swap::Fifo) {
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);  // an open that waited would wait for a writer
  }
  m_worker = std::thread(std::move(m_heldBody));
  const bool answered = m_link.WaitForBoxes(1, std::chrono::seconds(20));
  if (!answered && GetParam().swap == Swap::Fifo) {
    ::close(::open(path.c_str(), O_WRONLY | O_NONBLOCK));  // free the worker to end the test
  }
  JoinWorker();
  ASSERT_TRUE(answered) << "the worker's open waited";
  std::vector<std::string> expected = kBusy;
  expected.push_back(kBoxSoftwareFile);
  expected.push_back(Text(IDC_PATH, ""));
  EXPECT_EQ(Events(), expected);
  EXPECT_EQ(m_link.Text(IDC_DOWNLOAD), kCaptionBusy);
  EXPECT_FALSE(m_link.Enabled(IDC_DOWNLOAD));
  EXPECT_FALSE(m_link.Enabled(IDC_BROWSE));
  EXPECT_TRUE(g_terminalPort.IsOpen());  // the worker never touched it
  EXPECT_TRUE(Commands("AT").empty());
}

INSTANTIATE_TEST_SUITE_P(Swaps, SwappedFiles,
                         ::testing::Values(SwappedFile{"Removed", Swap::Removed},
                                           SwappedFile{"Fifo", Swap::Fifo}),
                         ByName{});

// Prints boxes where the parent process can read them: the child has no window.
class CStderrLink : public CRecordingLink {
 public:
  void MessageBox(BoxOwner, const char* text, const char* caption) override {
    std::fprintf(stderr, "box %s|%s\n", caption, text);
  }
};

std::FILE* FailBinaryOpen(const char* path, const char* mode) {
  return std::strcmp(mode, "rb") == 0 ? nullptr : std::fopen(path, mode);
}

TEST_F(WorkerTest, SecondOpenFails_EndsTheProgramWithExitCode1) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const std::string path = MakeFile({1, 2, 3});
  EXPECT_EXIT(
      {
        CStderrLink link;
        SetMainWindowLink(&link);
        SetFileOpener(FailBinaryOpen);
        std::snprintf(g_downloadPath.data(), g_downloadPath.size(), "%s", path.c_str());
        DownloadWorker(nullptr);
        std::fprintf(stderr, "worker returned\n");
        std::_Exit(3);
      },
      ::testing::ExitedWithCode(1), "box Error\\|Please enter the LDR file\\.");
}

// A worker that finds no window to report in releases the file and the port the second scan
// left open, says so to whoever waits for its end, and sends nothing.
DownloadReport g_lastReport;
void KeepReport(const DownloadReport& report) { g_lastReport = report; }

TEST_F(WorkerTest, NoWindowLink_ReleasesThePortAndReports) {
  StartWith({});
  const std::size_t commandsBefore = Stats().atCommands.size();
  SetMainWindowLink(nullptr);
  SetDownloadReportHook(KeepReport);
  const std::string path = MakeFile({1, 2, 3});
  std::snprintf(g_downloadPath.data(), g_downloadPath.size(), "%s", path.c_str());
  std::thread([] { DownloadWorker(nullptr); }).join();
  SetDownloadReportHook(nullptr);
  EXPECT_EQ(g_lastReport.outcome, DownloadOutcome::NoWindow);
  EXPECT_FALSE(g_terminalPort.IsOpen());
  EXPECT_EQ(g_upgradeFile, nullptr);
  EXPECT_EQ(Stats().atCommands.size(), commandsBefore);
}

// The AT check.

TEST_F(WorkerTest, NoOk_ThreeAttemptsWithoutPauseThenRestartMessage) {
  StartWith({}, "\r\nERROR\r\n");
  Download(MakeFile(RandomBytes(1500, 1)));
  const auto at = Commands("AT");
  ASSERT_EQ(at.size(), 3u);
  // No pause between attempts: two of the dial's 400 ms pauses alone would take 800 ms.
  EXPECT_LT(at[2].time - at[0].time, milliseconds(800));
  std::vector<std::string> expected = kBusy;
  expected.insert(expected.end(),
                  {Text(IDC_STATUS, kStatusChecking), Text(IDC_STATUS, kStatusNotReady),
                   "box none Error|" + std::string(kBoxNotResponding)});
  EXPECT_EQ(Events(), expected);
  EXPECT_EQ(m_link.Text(IDC_DOWNLOAD), kCaptionBusy);
  EXPECT_FALSE(m_link.Enabled(IDC_DOWNLOAD));
  EXPECT_FALSE(m_link.Enabled(IDC_BROWSE));
  EXPECT_FALSE(g_terminalPort.IsOpen());
  EXPECT_EQ(g_upgradeFile, nullptr);
  EXPECT_TRUE(Commands("ATD**60").empty());
}

TEST_F(WorkerTest, LowerCaseOk_IsAFailedAttempt) {
  StartWith({}, "\r\nok\r\n");
  Download(MakeFile({1, 2, 3}));
  EXPECT_EQ(Commands("AT").size(), 3u);
  EXPECT_EQ(m_link.Boxes().size(), 1u);
  EXPECT_EQ(m_link.Boxes()[0].text, kBoxNotResponding);
}

TEST_F(WorkerTest, OkAtTheThirdAttempt_GoesOnToTheDial) {
  StartWith({"at#1=text:\\r\\nERROR\\r\\n", "at#2=text:\\r\\nBUSY\\r\\n"});
  Download(MakeFile(RandomBytes(1500, 2)));
  EXPECT_EQ(Commands("AT").size(), 3u);
  const auto from = EventsFrom(Text(IDC_STATUS, kStatusChecking));
  ASSERT_GE(from.size(), 3u);
  EXPECT_EQ(from[1], Text(IDC_STATUS, kStatusReady));
  EXPECT_EQ(from[2], Text(IDC_STATUS, kStatusDialling));
  EXPECT_EQ(m_link.Text(IDC_STATUS), kStatusTransferDone);
}

TEST_F(WorkerTest, NoTerminalAtSecondScan_WorkerFailsItsChecksAtOnce) {
  StartSim({});  // an empty COM directory
  // An "OK" left in the reply buffer by an earlier read never counts for an empty read.
  std::memcpy(g_replyBuffer.data(), "\r\nOK\r\n", 6);
  const auto start = Clock::now();
  Download(MakeFile({1, 2, 3}));
  EXPECT_LT(Clock::now() - start, milliseconds(2000));
  std::vector<std::string> expected = kBusy;
  expected.insert(
      expected.end(),
      {Text(IDC_STATUS, kStatusNotReady), Text(IDC_MESSAGE, kNoTerminalMessage),
       Enable(IDC_DOWNLOAD, false), Text(IDC_STATUS, kStatusChecking),
       Text(IDC_STATUS, kStatusNotReady), "box none Error|" + std::string(kBoxNotResponding)});
  EXPECT_EQ(Events(), expected);
  EXPECT_EQ(m_link.Text(IDC_MESSAGE), kNoTerminalMessage);
}

// The dial.

TEST_F(WorkerTest, NoConnect_ThreeDialsEach400msBeforeTheirReadThenButtonsBack) {
  StartWith({}, "\r\nOK\r\n", "\r\nNO CARRIER\r\n");
  SetDownloadReportHook(KeepReport);
  Download(MakeFile(RandomBytes(1500, 3)));
  SetDownloadReportHook(nullptr);
  // The report says where: the third dial, answered without "CONNECT".
  EXPECT_EQ(g_lastReport.failure.stage, DownloadStage::Dial);
  EXPECT_EQ(g_lastReport.failure.attempt, 3u);
  EXPECT_EQ(g_lastReport.failure.reason, FailureReason::OtherAnswer);
  const auto dials = Commands("ATD**60");
  ASSERT_EQ(dials.size(), 3u);
  for (std::size_t i = 1; i < dials.size(); ++i) {
    EXPECT_GE(dials[i].time - dials[i - 1].time, milliseconds(400));
    EXPECT_LT(dials[i].time - dials[i - 1].time, milliseconds(1500));
  }
  const auto from = EventsFrom(Text(IDC_STATUS, kStatusDialling));
  EXPECT_EQ(from, (std::vector<std::string>{Text(IDC_STATUS, kStatusDialling),
                                            Text(IDC_STATUS, kStatusDialFailed),
                                            "box none Error|" + std::string(kBoxNotInDownloadMode),
                                            Text(IDC_DOWNLOAD, "Download software to handset"),
                                            Text(IDC_MESSAGE, kBoxNotInDownloadMode),
                                            Enable(IDC_DOWNLOAD, true), Enable(IDC_BROWSE, true)}));
  EXPECT_FALSE(g_terminalPort.IsOpen());
  EXPECT_EQ(g_upgradeFile, nullptr);
  EXPECT_EQ(Stats().frames, 0u);
}

TEST_F(WorkerTest, ConnectAtTheThirdDial_DownloadGoesOn) {
  StartWith({"dial#1=text:\\r\\nNO CARRIER\\r\\n", "dial#2=text:\\r\\nBUSY\\r\\n"});
  const Bytes file = RandomBytes(2100, 4);
  Download(MakeFile(file));
  EXPECT_EQ(Commands("ATD**60").size(), 3u);
  EXPECT_EQ(Stats().image, file);
  EXPECT_EQ(m_link.Text(IDC_STATUS), kStatusTransferDone);
}

// The transfer and the report.

TEST_F(WorkerTest, TransferFails_ReportedWithErrorCaptionAndButtonsBack) {
  StartWith({"begin=garbage"});
  Download(MakeFile(RandomBytes(1500, 5)));
  const auto from = EventsFrom(Text(IDC_STATUS, kStatusConnected));
  EXPECT_EQ(from,
            (std::vector<std::string>{
                Text(IDC_STATUS, kStatusConnected), Text(IDC_MESSAGE, kPaneConnected),
                Text(IDC_STATUS, kStatusTransferFailed), Text(IDC_MESSAGE, kPaneTransferFailed),
                "box none Error|Software download failed.Try again",
                Text(IDC_DOWNLOAD, "Download software to handset."), Enable(IDC_DOWNLOAD, true),
                Enable(IDC_BROWSE, true)}));
  EXPECT_FALSE(g_terminalPort.IsOpen());
  EXPECT_EQ(g_upgradeFile, nullptr);
}

TEST_F(WorkerTest, TransferSucceeds_BarFullBurningMessageAndStatusCaption) {
  StartWith({});
  const Bytes file = RandomBytes(1500, 6);
  Download(MakeFile(file));
  EXPECT_EQ(Stats().image, file);
  EXPECT_TRUE(Stats().endFcsMatched);
  const auto from = EventsFrom(Text(IDC_STATUS, kStatusTransferring));
  EXPECT_EQ(from, (std::vector<std::string>{Text(IDC_STATUS, kStatusTransferring), "range 1004 0 1",
                                            "stepsize 1004 1", "pos 1004 1", "pos 1004 2",
                                            "pos 1004 1500", Text(IDC_STATUS, kStatusTransferDone),
                                            Text(IDC_MESSAGE, kPaneTransferDone),
                                            "box none Status|" + std::string(kBoxTransferDone),
                                            Text(IDC_DOWNLOAD, "Download software to handset."),
                                            Enable(IDC_DOWNLOAD, true), Enable(IDC_BROWSE, true)}));
  EXPECT_EQ(m_link.ProgressPos(), m_link.ProgressUpper());
  EXPECT_FALSE(g_terminalPort.IsOpen());
  EXPECT_EQ(g_upgradeFile, nullptr);
}

// The upgrade file changes while its blocks go out: the handset must never be told to burn an
// image that is not the file as it was chosen.
enum class Change { Truncate, Rewrite, RewriteKeepingItsTime, Grow };

struct ChangedFile {
  const char* name;
  Change change;
};

constexpr std::size_t kChangedFileSize = 20 * 1024;
constexpr std::int32_t kChangeAtBlock = 2;  // acknowledged blocks before the change

// Changes the file the moment the bar shows kChangeAtBlock blocks, on the worker's own thread,
// so that the change always lands in the middle of the transfer.
class CChangingLink : public CRecordingLink {
 public:
  std::function<void()> m_change;
  void SetProgressPos(int id, std::int32_t position) override {
    CRecordingLink::SetProgressPos(id, position);
    if (position == kChangeAtBlock && m_change) {
      m_change();
      m_change = nullptr;
    }
  }
};

void PrintTo(const ChangedFile& row, std::ostream* os) { *os << row.name; }

class ChangedFiles : public WorkerTest, public ::testing::WithParamInterface<ChangedFile> {};

void Write(const std::string& path, const Bytes& bytes, std::ios::openmode mode) {
  std::ofstream out(path, std::ios::binary | mode);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
}

TEST_P(ChangedFiles, FailsBeforeTheEndRequest) {
  CChangingLink link;
  SetMainWindowLink(&link);
  StartWith({});
  const std::string path = MakeFile(RandomBytes(kChangedFileSize, 21));
  link.m_change = [&path] {
    struct stat before {};
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    switch (GetParam().change) {
      case Change::Truncate:
        ASSERT_EQ(::truncate(path.c_str(), 5000), 0);
        break;
      case Change::Rewrite:
        Write(path, RandomBytes(kChangedFileSize, 22), std::ios::trunc);
        break;
      case Change::RewriteKeepingItsTime: {
        Write(path, RandomBytes(kChangedFileSize, 23), std::ios::in | std::ios::out);
        const timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
        break;
      }
      case Change::Grow:
        Write(path, RandomBytes(3000, 24), std::ios::app);
        break;
    }
  };
  link.Type(IDC_PATH, path);
  StartDownload();
  JoinWorker();
  EXPECT_EQ(link.m_change, nullptr) << "the file was never changed";
  EXPECT_EQ(link.Text(IDC_STATUS), kStatusTransferFailed);
  ASSERT_EQ(link.Boxes().size(), 1u);
  EXPECT_EQ(link.Boxes()[0].text, kBoxTransferFailed);
  EXPECT_EQ(Stats().endFrames, 0u);
  EXPECT_FALSE(Stats().endReceived);
  SetMainWindowLink(&m_link);
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangedFiles,
                         ::testing::Values(ChangedFile{"Truncated", Change::Truncate},
                                           ChangedFile{"Rewritten", Change::Rewrite},
                                           ChangedFile{"RewrittenKeepingItsTime",
                                                       Change::RewriteKeepingItsTime},
                                           ChangedFile{"Grown", Change::Grow}),
                         ByName{});

TEST_F(WorkerTest, EmptyFile_PassesTheFirstByteTestAndDownloads) {
  StartWith({});
  Download(MakeFile({}));
  EXPECT_EQ(m_link.Text(IDC_STATUS), kStatusTransferDone);
  EXPECT_EQ(Stats().dataFrames, 1u);
}

TEST_F(WorkerTest, SecondDownloadAfterSuccess_ScansThePortsAnew) {
  StartWith({});
  const std::size_t scansBefore = Commands("AT+CGMM").size();
  Download(MakeFile(RandomBytes(1200, 7), "first.ldr"));
  const Bytes second = RandomBytes(900, 8);
  Download(MakeFile(second, "second.ldr"));
  EXPECT_EQ(Commands("AT+CGMM").size(), scansBefore + 2);
  EXPECT_EQ(Stats().transfers, 2u);
  EXPECT_EQ(Stats().image, second);
  EXPECT_EQ(m_link.Boxes().size(), 2u);  // one box per download
}

// The order at the start: the worker's first write to the port comes after StartDownload,
// and its detection, have returned, even when that detection takes seconds.
TEST_F(WorkerTest, WorkerWaitsForStartDownload_BeforeItTouchesThePort) {
  sim::DeviceConfig silent;  // COM2: a device that never answers, so the scan takes 5 s
  silent.comNumber = 2;
  silent.model.reset();
  silent.maker.reset();
  silent.check.reset();
  silent.dial.reset();
  silent.other.reset();
  sim::DeviceConfig terminal;
  terminal.comNumber = 9;
  StartSim({silent, terminal});
  m_link.Type(IDC_PATH, MakeFile(RandomBytes(100, 9)));
  StartDownload();
  JoinWorker();
  // The second scan reaches COM9 only after COM2's silence: a worker that did not wait for
  // StartDownload would have sent its "AT" before the scan's last question to the terminal.
  // (Compared with the simulator's own record, not with a clock read on a thread that the
  // scheduler may hold up after StartDownload returns.)
  const auto at = Commands("AT");
  ASSERT_EQ(at.size(), 1u);
  auto lastScan = Commands("AT+CGMM");
  const auto maker = Commands("AT+GMI");
  lastScan.insert(lastScan.end(), maker.begin(), maker.end());
  ASSERT_FALSE(lastScan.empty());
  for (const auto& question : lastScan) {
    EXPECT_GT(at[0].time, question.time);
  }
  // Busy first, then the worker's first change.
  const auto events = Events();
  ASSERT_GE(events.size(), 4u);
  EXPECT_EQ(std::vector<std::string>(events.begin(), events.begin() + 3), kBusy);
  EXPECT_EQ(events[3], Text(IDC_STATUS, kStatusChecking));
  EXPECT_EQ(m_link.Text(IDC_STATUS), kStatusTransferDone);
}

}  // namespace
