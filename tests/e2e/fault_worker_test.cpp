// Rows of the fault table through the whole tool: the operator's outcome (status line, message
// pane, the one message box, the Download button, the progress bar) and what the handset
// received. The worker tells only success from failure, so the rows are one per outcome the
// operator can see: a failure before any block, in the middle of the data, at the end request,
// and a success after a retry. Every row's result code is checked below the worker, in
// fault_transfer_test.cpp.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "download/control_ids.h"
#include "download/messages.h"
#include "tests/e2e/e2e_fixture.h"
#include "tests/e2e/fault_table.h"
#include "tests/support/test_names.h"

namespace {

class FaultWorkerTest : public EndToEndTest, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultWorkerTest, OutcomeMatchesTheTable) {
  const FaultRow& row = GetParam();
  StartWith(row.knobs);
  const std::vector<std::uint8_t> image = RandomBytes(kImageSize, 41);
  Download(MakeFile(image));

  const bool ok = row.code == 0;
  const std::vector<std::string> expectedStatus = [&] {
    std::vector<std::string> s{kStatusChecking, kStatusReady, kStatusDialling, kStatusConnected};
    if (ok || row.dataFrames > 0) {
      s.push_back(kStatusTransferring);  // the begin request was acknowledged
    }
    s.push_back(ok ? kStatusTransferDone : kStatusTransferFailed);
    return s;
  }();
  EXPECT_EQ(StatusTexts(), expectedStatus);
  EXPECT_EQ(m_link.Text(IDC_MESSAGE), ok ? kPaneTransferDone : kPaneTransferFailed);
  const std::vector<RecordedBox> boxes = m_link.Boxes();
  ASSERT_EQ(boxes.size(), 1u) << "exactly one outcome per download";
  EXPECT_EQ(boxes[0].owner, BoxOwner::None);
  EXPECT_EQ(boxes[0].text, ok ? kBoxTransferDone : kBoxTransferFailed);
  EXPECT_EQ(boxes[0].caption, ok ? kBoxTransferDoneCaption : kBoxTransferFailedCaption);
  EXPECT_EQ(m_link.Text(IDC_DOWNLOAD), kCaptionAfterTransfer);
  EXPECT_TRUE(m_link.Enabled(IDC_DOWNLOAD));
  EXPECT_TRUE(m_link.Enabled(IDC_BROWSE));
  EXPECT_FALSE(g_terminalPort.IsOpen());

  // Progress: one position per acknowledged block, then the bytes sent after a success.
  std::vector<std::int32_t> positions;
  for (std::int32_t i = 1; i <= row.acknowledged; ++i) {
    positions.push_back(i);
  }
  if (ok) {
    positions.push_back(static_cast<std::int32_t>(kImageSize));
  }
  EXPECT_EQ(m_link.PositionsSent(), positions);
  if (ok) {
    EXPECT_EQ(m_link.ProgressUpper(), kWholeBlocks);
    EXPECT_EQ(m_link.ProgressPos(), kWholeBlocks) << "the bar shows full";
  }

  const sim::DeviceStats stats = Stats();
  EXPECT_EQ(stats.beginFrames, row.beginFrames);
  EXPECT_EQ(stats.dataFrames, row.dataFrames);
  EXPECT_EQ(stats.endFrames, row.endFrames);
  EXPECT_EQ(stats.rejected, 0u) << "every frame the tool sent was well formed";
  EXPECT_TRUE(stats.violations.empty());
  if (ok) {
    EXPECT_EQ(stats.image, image);
    EXPECT_TRUE(stats.endFcsMatched);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultWorkerTest,
                         ::testing::Values(FaultRowNamed("GarbageBegin"),
                                           FaultRowNamed("CodeMiddle"), FaultRowNamed("SeqEnd"),
                                           FaultRowNamed("GarbageMiddleOnce")),
                         ByName{});

}  // namespace
