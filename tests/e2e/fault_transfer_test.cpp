// Each row of the fault table through RunTransfer alone (port opened and dialled as the worker
// leaves it): the result code the transfer passes on, and how many attempts the handset saw.
#include <gtest/gtest.h>

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

}  // namespace
