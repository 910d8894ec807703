// The record's writer on its own, on Linux and (cross-built, under Wine) on Windows: a state
// folder whose name has letters of three scripts, the record of an upgrade file named likewise,
// and the traces kept to the last 20.
#include "download/download_record.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "download/download_worker.h"
#include "download/record_platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <stdlib.h>
#endif

namespace {

namespace fs = std::filesystem;

#ifdef _WIN32
constexpr const char* kFolderName = "Corvanel";
void SetStateHome(const fs::path& home) { SetEnvironmentVariableW(L"LOCALAPPDATA", home.c_str()); }
#else
constexpr const char* kFolderName = "corvanel";
void SetStateHome(const fs::path& home) { setenv("XDG_STATE_HOME", home.c_str(), 1); }
#endif

// A path's text as the core keeps it (UTF-8, or the bytes themselves on POSIX).
std::string CoreText(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

fs::path Utf8Path(const std::string& text) {
  return fs::path(std::u8string(text.begin(), text.end()));
}

std::vector<std::string> Traces(const fs::path& folder) {
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    const std::string name = CoreText(entry.path().filename());
    if (name.starts_with("trace-")) names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  return names;
}

TEST(DownloadRecordTest, TwentyFirstTrace_RemovesTheOldestAndRecordsTheFile) {
  const fs::path home =
      fs::temp_directory_path() / Utf8Path(
                                      "corvanel-\xC5\x81\xC3\xB3"
                                      "d\xC5\xBA-\xD0\x9F\xD1\x83\xD1\x82\xD1\x8C-"
                                      "\xE8\xB7\xAF\xE5\xBE\x84-" +
                                      std::to_string(std::random_device{}()));
  const fs::path folder = home / kFolderName;
  ASSERT_TRUE(fs::create_directories(folder));
  for (int i = 0; i < 20; ++i) {
    char name[48];
    std::snprintf(name, sizeof name, "trace-20200101T0000%02d.000Z.txt", i);
    std::ofstream(folder / name) << "old\n";
  }
  // The three bytes whose FCS the end request would carry as 9E 25.
  const fs::path file = home / Utf8Path("obraz-\xD0\xBE\xD0\xB1\xD1\x80\xD0\xB0\xD0\xB7.ldr");
  std::ofstream(file, std::ios::binary) << "abc";
  const std::string path = CoreText(file);
  // A trace older than all of them is still being written by another download: it stays.
  std::FILE* held = CreateNewFile(folder / "trace-20200101T000000.000Z_2.txt");
  ASSERT_NE(held, nullptr);

  SetStateHome(home);
  SetDownloadRecording("test", nullptr);
  AdoptDownloadRecord(BeginDownloadRecord(path));
  // As the worker reports a second scan that found no terminal.
  DownloadReport report;
  report.outcome = DownloadOutcome::NoTerminal;
  report.failure.stage = DownloadStage::Scan;
  EndDownloadRecord(report);
  SetDownloadRecording(nullptr, nullptr);
  std::fclose(held);

  std::ifstream in(folder / kRecordFileName);
  std::string line, more;
  ASSERT_TRUE(std::getline(in, line));
  EXPECT_FALSE(std::getline(in, more)) << more;
  DownloadRecord r;
  ASSERT_TRUE(ReadRecordLine(line, r)) << line;
  EXPECT_EQ(r.program, "test");
  EXPECT_EQ(r.outcome, "no-terminal");
  EXPECT_EQ(r.status, "Terminal not ready.");
  ASSERT_TRUE(r.failure.has_value());
  EXPECT_EQ(r.failure->stage, "scan");
  EXPECT_FALSE(r.failure->attempt.has_value());
  EXPECT_EQ(r.failure->reason, "");
  EXPECT_NE(line.find("\"failure\":{\"stage\":\"scan\",\"block\":null,\"attempt\":null,"
                      "\"reason\":null}"),
            std::string::npos)
      << line;
  EXPECT_EQ(r.file, path);
  EXPECT_EQ(r.fileBytes, 3u);
  EXPECT_EQ(r.fileFcs, 0x9E25);
  EXPECT_EQ(r.port, "");

  const std::vector<std::string> traces = Traces(folder);
  ASSERT_EQ(traces.size(), 21u);
  EXPECT_EQ(traces[0], "trace-20200101T000000.000Z_2.txt");
  EXPECT_EQ(traces[1], "trace-20200101T000001.000Z.txt");
  EXPECT_EQ(traces.back(), r.trace);
  std::error_code ec;
  fs::remove_all(home, ec);
}

}  // namespace
