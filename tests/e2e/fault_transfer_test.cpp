// Each row of the fault table through RunTransfer alone (port opened and dialled as the worker
// leaves it): the result code the transfer passes on, and how many attempts the handset saw.
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "download/block_transfer.h"
#include "tests/download/transfer_fixture.h"
#include "tests/e2e/fault_table.h"
#include "tests/support/test_names.h"

namespace {

class FaultTransferTest : public TransferTest, public ::testing::WithParamInterface<FaultRow> {};

TEST_P(FaultTransferTest, ResultCodeMatchesTheTable) {
  const FaultRow& row = GetParam();
  StartTerminal(row.knobs);
  OpenAndConnect();
  const std::vector<std::uint8_t> image = RandomBytes(kImageSize, 43);
  const std::uint16_t result = Transfer(image);
  if (row.splitDependent) {
    EXPECT_EQ(result == 0, row.code == 0) << "result " << result;
  } else {
    EXPECT_EQ(result, row.code);
  }

  const sim::DeviceStats stats = Stats();
  if (!row.splitDependent || row.code != 0) {
    EXPECT_EQ(stats.beginFrames, row.beginFrames);
    EXPECT_EQ(stats.dataFrames, row.dataFrames);
    EXPECT_EQ(stats.endFrames, row.endFrames);
  }
  EXPECT_EQ(static_cast<std::int32_t>(m_link.PositionsSent().size()), row.acknowledged);
  if (row.code == 0) {
    EXPECT_EQ(g_sizeCounter, kImageSize);
    EXPECT_EQ(stats.image, image);
    EXPECT_TRUE(stats.endFcsMatched);
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTransferTest, ::testing::ValuesIn(FaultRows()), ByName{});

// Where a transfer failed and what was wrong with its last reply, one fault of each kind. The
// cut reply is the third attempt's, after two of another code: it cannot run into the next one.
struct WhereRow {
  std::string name;
  std::vector<std::string> knobs;
  FailureDetail failure;
};

void PrintTo(const WhereRow& row, std::ostream* os) { *os << row.name; }

class FailureDetailTest : public TransferTest, public ::testing::WithParamInterface<WhereRow> {};

TEST_P(FailureDetailTest, NamesStageBlockAttemptAndReason) {
  const WhereRow& row = GetParam();
  StartTerminal(row.knobs);
  OpenAndConnect();
  const std::uint16_t result = Transfer(RandomBytes(kImageSize, 47));
  EXPECT_EQ(result != 0, row.failure.Failed()) << "result " << result;
  EXPECT_EQ(StageName(g_transferFailure.stage), StageName(row.failure.stage));
  EXPECT_EQ(g_transferFailure.block, row.failure.block);
  EXPECT_EQ(g_transferFailure.attempt, row.failure.attempt);
  EXPECT_EQ(ReasonName(g_transferFailure.reason), std::string(ReasonName(row.failure.reason)));
}

using Stage = DownloadStage;
using Reason = FailureReason;
INSTANTIATE_TEST_SUITE_P(
    Faults, FailureDetailTest,
    ::testing::Values(
        WhereRow{"Garbage", {"begin=garbage"}, {Stage::Begin, {}, 3, Reason::BadFrame}},
        WhereRow{"Code", {"data:1=code"}, {Stage::Data, 1, 3, Reason::OtherCode}},
        WhereRow{"Seq", {"data:2=seq"}, {Stage::Data, 2, 3, Reason::OtherSequence}},
        WhereRow{"Cut",
                 {"data:0#1=code", "data:0#2=code", "data:0#3=cut:4:1000"},
                 {Stage::Data, 0, 3, Reason::CutReply}},
        WhereRow{"HangUp", {"end=hangup"}, {Stage::End, {}, 1, Reason::PortLost}},
        WhereRow{"RetriedOnce", {"data:1#1=seq"}, {}}),
    ByName{});

}  // namespace
