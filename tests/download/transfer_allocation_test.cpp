// The transfer allocates nothing: every buffer it uses is process-wide and fixed in size, and
// so is the ring its trace is recorded into.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "download/block_transfer.h"
#include "record/trace_recorder.h"
#include "tests/download/transfer_fixture.h"
#include "tests/support/allocation_counter.h"
#include "tests/support/quiet_link.h"

namespace {

TEST_F(TransferTest, Transfer_AllocatesNothing) {
  StartTerminal({"data:2#1=garbage"});  // a retry on the way
  OpenAndConnect();
  CQuietLink quiet;
  SetMainWindowLink(&quiet);
  const std::string path = MakeFile(RandomBytes(6000, 14));
  g_upgradeFile = std::fopen(path.c_str(), "rb");
  ASSERT_NE(g_upgradeFile, nullptr);
  static char buffer[BUFSIZ];
  std::setvbuf(g_upgradeFile, buffer, _IOFBF, sizeof buffer);  // as the worker opens it
  g_sizeCounter = 5;
  CTraceRecorder trace(CTraceRecorder::Clock::now());
  SetPortTraceRecorder(&trace);
  std::uint16_t result = 0;
  std::uint64_t allocations = 0;
  {
    const CScopedAllocationCounter counter;
    result = RunTransfer();
    allocations = counter.Count();
  }
  ClearPortTraceRecorder(&trace);
  std::fclose(g_upgradeFile);
  g_upgradeFile = nullptr;
  EXPECT_EQ(result, 0);
  EXPECT_EQ(trace.Lost(), 0u);
  std::FILE* lines = std::tmpfile();
  ASSERT_NE(lines, nullptr);
  EXPECT_TRUE(trace.WriteOut(lines));
  EXPECT_GT(std::ftell(lines), 0);  // the transfer's events were there
  std::fclose(lines);
  EXPECT_EQ(allocations, 0u);
  EXPECT_EQ(Stats().retries, 1u);
}

// The counter itself: it must see an allocation, or the test above proves nothing.
TEST(AllocationCounter, CountsWhileItLives) {
  std::uint64_t counted = 0;
  {
    const CScopedAllocationCounter counter;
    int* volatile p = new int(1);  // volatile: the allocation cannot be optimised away
    delete p;
    counted = counter.Count();
  }
  EXPECT_EQ(counted, 1u);
}

}  // namespace
