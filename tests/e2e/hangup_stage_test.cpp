// The terminal hangs up at each stage of a download: the AT check, the dial, the begin request,
// a data block, the end request. Every read on the hung-up port ends at once, so each outcome
// comes well inside one read time-out, and the tool ends in the stage's own outcome.
#include <gtest/gtest.h>

#include <chrono>
#include <ostream>
#include <string>
#include <vector>

#include "download/control_ids.h"
#include "download/messages.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/support/test_names.h"

namespace {

struct StageRow {
  std::string name;
  std::string knob;
  std::string lastStatus;
  std::string box;
  std::string caption;                // the box's caption
  std::string button;                 // the Download button's caption afterwards
  bool enabled;                       // Download and Browse afterwards
  std::string pane;                   // the message pane afterwards
  std::size_t checks, dials, frames;  // what the terminal and the handset received
};

void PrintTo(const StageRow& row, std::ostream* os) { *os << row.name; }

const std::vector<StageRow> kStages = {
    {"AtCheck", "at=hangup", kStatusNotReady, kBoxNotResponding, kDefaultBoxCaption, kCaptionBusy,
     false, kConnectedMessage, 1, 0, 0},
    {"Dial", "dial=hangup", kStatusDialFailed, kBoxNotInDownloadMode, kDefaultBoxCaption,
     kCaptionAfterDial, true, kBoxNotInDownloadMode, 1, 1, 0},
    {"Begin", "begin=hangup", kStatusTransferFailed, kBoxTransferFailed, kBoxTransferFailedCaption,
     kCaptionAfterTransfer, true, kPaneTransferFailed, 1, 1, 1},
    {"Data", "data:1=hangup", kStatusTransferFailed, kBoxTransferFailed, kBoxTransferFailedCaption,
     kCaptionAfterTransfer, true, kPaneTransferFailed, 1, 1, 3},
    {"End", "end=hangup", kStatusTransferFailed, kBoxTransferFailed, kBoxTransferFailedCaption,
     kCaptionAfterTransfer, true, kPaneTransferFailed, 1, 1, 5},
};

class HangUpStageTest : public EndToEndTest, public ::testing::WithParamInterface<StageRow> {};

std::size_t Count(const sim::DeviceStats& stats, const std::string& line) {
  std::size_t n = 0;
  for (const sim::AtCommand& c : stats.atCommands) {
    n += c.line == line ? 1 : 0;
  }
  return n;
}

DownloadReport g_report;
void KeepReport(const DownloadReport& report) { g_report = report; }

TEST_P(HangUpStageTest, EndsInTheStagesOutcomeWithoutWaitingOutReads) {
  const StageRow& row = GetParam();
  StartWith({row.knob});
  // The main window's pane after the start-up detection found the terminal.
  m_link.Type(IDC_MESSAGE, kConnectedMessage);
  SetDownloadReportHook(KeepReport);
  Download(MakeFile(RandomBytes(2500, 47)));
  SetDownloadReportHook(nullptr);
  // The port's device is gone: said so, at the attempt that found it, and never tried again.
  EXPECT_EQ(ReasonName(g_report.failure.reason), std::string("port-lost"));
  EXPECT_EQ(g_report.failure.attempt, 1u);

  ASSERT_FALSE(StatusTexts().empty());
  EXPECT_EQ(StatusTexts().back(), row.lastStatus);
  const std::vector<RecordedBox> boxes = m_link.Boxes();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].text, row.box);
  EXPECT_EQ(boxes[0].caption, row.caption);
  EXPECT_EQ(m_link.Text(IDC_DOWNLOAD), row.button);
  EXPECT_EQ(m_link.Enabled(IDC_DOWNLOAD), row.enabled);
  EXPECT_EQ(m_link.Enabled(IDC_BROWSE), row.enabled);
  EXPECT_EQ(m_link.Text(IDC_MESSAGE), row.pane);
  EXPECT_FALSE(g_terminalPort.IsOpen());

  // The simulator records its hang-up once the new line is in place, which may be after the
  // tool has already seen the old one go.
  ASSERT_TRUE(Terminal().WaitFor([](const sim::DeviceStats& s) { return s.hangUps > 0; },
                                 std::chrono::seconds(30)));
  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.hangUps, 1u);
  // After the hang-up nothing more reaches the device.
  EXPECT_EQ(Count(stats, "AT"), row.checks);
  EXPECT_EQ(Count(stats, "ATD**60"), row.dials);
  EXPECT_EQ(stats.frames, row.frames);
  // A hung-up port takes no read time-out at all.
  EXPECT_LT(m_wall, 5.0) << "a read on a hung-up port waited for its time-out";
  EXPECT_LT(m_cpu, 0.5 * m_wall + 0.5) << "cpu " << m_cpu << " s over " << m_wall << " s";
}

INSTANTIATE_TEST_SUITE_P(Stages, HangUpStageTest, ::testing::ValuesIn(kStages), ByName{});

}  // namespace
