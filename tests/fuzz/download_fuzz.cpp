// libFuzzer target: a whole download, press of Download to the report, where every byte the
// terminal and the handset send comes from the input.
//
// Input: the first byte picks the upgrade file; then each read of the port takes one control
// byte c and answers by c % 4:
//   0: the right answer to the last request (the model word, "OK", "CONNECT", the right ack);
//   1: raw bytes: a length byte n, then n bytes of the input;
//   2: the right answer with one byte replaced (a position byte, then the new byte);
//   3: the ack of another sequence number (a byte), or a word the request does not want.
// When the input runs out the device falls silent.
//
// The promise checked after every download: success is reported only when the AT check saw "OK",
// the dial saw "CONNECT", the begin request, every block of the file in order and the end
// request with the file's FCS were written, and each was acknowledged (by the tool's own reply
// rules) before the next went out. Whatever the outcome, no end request is written before every
// block was acknowledged, and none carries another FCS than the file's.
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "download/block_transfer.h"
#include "download/control_ids.h"
#include "download/download_worker.h"
#include "download/messages.h"
#include "download/window_link.h"
#include "protocol/frame_codec.h"
#include "serial/serial_port.h"
#include "serial/terminal_detection.h"
#include "sim/frame_reader.h"
#include "tests/fuzz/fake_serial.h"
#include "tests/support/quiet_link.h"

// The dial's 400 ms pause is not what is fuzzed: every sleep returns at once here.
extern "C" int nanosleep(const timespec*, timespec*) { return 0; }

namespace {

void Require(bool condition) {
  if (!condition) {
    std::abort();
  }
}

const std::string kPort = "\\\\.\\COM9";
constexpr std::size_t kFileSizes[] = {0, 3, 1024, 2100};

// The input, as the device's answers.
const std::uint8_t* g_input = nullptr;
std::size_t g_left = 0;

bool Take(std::uint8_t& byte) {
  if (g_left == 0) {
    return false;
  }
  byte = *g_input++;
  --g_left;
  return true;
}

std::vector<std::uint8_t> Text(const char* text) {
  return std::vector<std::uint8_t>(text, text + std::strlen(text));
}

// A request the tool wrote, as the device understands it.
struct Request {
  enum Kind { Other, Model, Maker, At, Dial, Begin, Data, End } kind = Other;
  std::uint16_t sequence = 0;  // of a data block; the FCS of an end request
  std::vector<std::uint8_t> payload;
};

std::uint16_t BigEndian(const std::uint8_t* at) {
  return static_cast<std::uint16_t>((at[0] << 8) | at[1]);
}

Request Understand(const std::vector<std::uint8_t>& bytes) {
  Request r;
  const std::string text(bytes.begin(), bytes.end());
  if (text == "AT+CGMM\r\n") {
    r.kind = Request::Model;
  } else if (text == "AT+GMI\r\n") {
    r.kind = Request::Maker;
  } else if (text == "AT\r\n") {
    r.kind = Request::At;
  } else if (text == "ATD**60\r\n") {
    r.kind = Request::Dial;
  } else {
    // Every frame the tool writes must be one whole, valid frame.
    sim::CFrameReader reader;
    std::vector<sim::FrameEvent> events;
    reader.Push(bytes.data(), bytes.size(), events);
    Require(events.size() == 1 && events[0].accepted);
    const std::vector<std::uint8_t>& p = events[0].packet;
    Require(p.size() >= sim::kControlPacketSize);
    const std::uint16_t code = BigEndian(p.data());
    if (code == sim::kCmdBegin && p.size() == sim::kControlPacketSize) {
      r.kind = Request::Begin;
    } else if (code == sim::kCmdData && p.size() >= sim::kHeaderSize) {
      r.kind = Request::Data;
      r.sequence = BigEndian(p.data() + 4);
      r.payload.assign(p.begin() + sim::kHeaderSize, p.end());
    } else if (code == sim::kCmdEnd && p.size() == sim::kHeaderSize) {
      r.kind = Request::End;
      r.sequence = BigEndian(p.data() + 4);
    } else {
      Require(false);  // the tool writes no other frame
    }
  }
  return r;
}

std::vector<std::uint8_t> RightAnswer(const Request& r) {
  switch (r.kind) {
    case Request::Model:
      return Text("\r\nTARVENIX\r\n");
    case Request::Maker:
      return Text("\r\nKestra\r\n");
    case Request::At:
      return Text("\r\nOK\r\n");
    case Request::Dial:
      return Text("\r\nCONNECT 9600\r\n");
    case Request::Begin:
    case Request::End:
      return sim::BuildFrame(sim::AckPacket());
    case Request::Data:
      return sim::BuildFrame(sim::DataAckPacket(r.sequence));
    case Request::Other:
      break;
  }
  return {};
}

std::vector<std::uint8_t> WrongAnswer(const Request& r, std::uint8_t pick) {
  switch (r.kind) {
    case Request::Data:
    case Request::Begin:
    case Request::End:
      return sim::BuildFrame(sim::DataAckPacket(static_cast<std::uint16_t>(r.sequence + pick)));
    default:
      return Text(pick % 2 == 0 ? "\r\nERROR\r\n" : "\r\nok\r\n");
  }
}

// Each write understood once, in the order of the port's events (reads have an empty entry).
std::vector<Request> g_requests;

void UnderstandNewEvents() {
  const auto& events = fake::Events();
  for (std::size_t i = g_requests.size(); i < events.size(); ++i) {
    g_requests.push_back(events[i].write ? Understand(events[i].bytes) : Request{});
  }
}

// The last request written before this read.
Request LastRequest() {
  UnderstandNewEvents();
  const auto& events = fake::Events();
  for (std::size_t i = events.size(); i-- > 0;) {
    if (events[i].write) {
      return g_requests[i];
    }
  }
  return {};
}

std::uint32_t Answer(std::uint8_t* buffer, std::uint32_t capacity) {
  std::uint8_t control = 0;
  if (!Take(control)) {
    return 0;
  }
  std::vector<std::uint8_t> answer;
  std::uint8_t a = 0;
  std::uint8_t b = 0;
  switch (control % 4) {
    case 0:
      answer = RightAnswer(LastRequest());
      break;
    case 1:
      if (Take(a)) {
        const std::size_t n = std::min<std::size_t>(a, g_left);
        answer.assign(g_input, g_input + n);
        g_input += n;
        g_left -= n;
      }
      break;
    case 2:
      answer = RightAnswer(LastRequest());
      if (Take(a) && Take(b) && !answer.empty()) {
        answer[a % answer.size()] = b;
      }
      break;
    default:
      answer = WrongAnswer(LastRequest(), Take(a) ? a : 1);
      break;
  }
  const std::uint32_t n =
      static_cast<std::uint32_t>(std::min<std::size_t>(answer.size(), capacity));
  std::copy_n(answer.begin(), n, buffer);
  return n;
}

// The window: the path box holds the file; the final status line is kept.
class CFuzzLink : public CQuietLink {
 public:
  std::string m_path;
  std::string m_status;
  int m_boxes = 0;
  std::string GetItemText(int id) override { return id == IDC_PATH ? m_path : std::string(); }
  void SetItemText(int id, const char* text) override {
    if (id == IDC_STATUS) {
      m_status = text;
    }
  }
  void MessageBox(BoxOwner, const char*, const char*) override { ++m_boxes; }
};

CFuzzLink g_link;
std::function<void()> g_body;
std::vector<std::string> g_paths;
std::vector<std::vector<std::uint8_t>> g_files;
int g_reports = 0;
DownloadReport g_report;

void Setup() {
  char dir[] = "/tmp/corvanel-fuzz-XXXXXX";
  Require(::mkdtemp(dir) != nullptr);
  unsigned seed = 1;
  for (const std::size_t size : kFileSizes) {
    std::vector<std::uint8_t> bytes(size);
    for (std::uint8_t& byte : bytes) {
      seed = seed * 1103515245U + 12345U;
      byte = static_cast<std::uint8_t>(seed >> 16);
      if (byte == ':') {
        byte = 0;  // the first byte must not make the file a text image
      }
    }
    const std::string path = std::string(dir) + "/image" + std::to_string(size) + ".ldr";
    std::FILE* file = std::fopen(path.c_str(), "wb");
    Require(file != nullptr);
    Require(bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size());
    std::fclose(file);
    g_paths.push_back(path);
    g_files.push_back(bytes);
  }
  SetMainWindowLink(&g_link);
  SetWorkerStarter([](std::function<void()> body) {
    g_body = std::move(body);
    return true;
  });
  SetDownloadReportHook([](const DownloadReport& report) {
    ++g_reports;
    g_report = report;
  });
  fake::SetOpenablePort(kPort);
  fake::SetReadSource(Answer);
}

bool Accepted(const std::vector<std::uint8_t>& reply, std::uint16_t code, std::uint16_t sequence) {
  std::vector<std::uint8_t> copy = reply;
  std::uint16_t n = static_cast<std::uint16_t>(copy.size());
  return ParseReply(copy.empty() ? nullptr : copy.data(), n) == PARSE_OK &&
         CheckReply(g_decodedReply.packet.data(), code, sequence) == CHECK_OK;
}

bool HoldsWord(const std::vector<std::uint8_t>& reply, const char* word) {
  return ReplyContainsWord(reply.empty() ? nullptr : reply.data(),
                           static_cast<std::uint32_t>(reply.size()), word);
}

// Walks the conversation and checks the promise.
void CheckConversation(const std::vector<std::uint8_t>& file, bool success) {
  const std::size_t blocks = file.size() / kBlockSize + 1;
  bool ok = false;
  bool connected = false;
  bool begun = false;
  bool ended = false;
  bool endAcked = false;
  std::size_t acked = 0;  // data blocks acknowledged, in order
  UnderstandNewEvents();
  Request last;
  for (std::size_t i = 0; i < fake::Events().size(); ++i) {
    const fake::PortEvent& e = fake::Events()[i];
    if (e.write) {
      last = g_requests[i];
      Require(!ended);  // nothing after the end request
      switch (last.kind) {
        case Request::Begin:
          Require(connected && acked == 0);
          break;
        case Request::Data: {
          Require(begun && last.sequence == acked && acked < blocks);
          const std::size_t from = acked * kBlockSize;
          const std::size_t size = std::min(kBlockSize, file.size() - from);
          Require(last.payload.size() == size &&
                  std::equal(last.payload.begin(), last.payload.end(), file.begin() + from));
          break;
        }
        case Request::End:
          Require(acked == blocks);
          Require(last.sequence == sim::ImageFcs(file.data(), file.size()));
          ended = true;
          break;
        case Request::At:
        case Request::Dial:
          Require(!begun);
          break;
        default:
          break;
      }
      continue;
    }
    switch (last.kind) {
      case Request::At:
        ok = ok || HoldsWord(e.bytes, "OK");
        break;
      case Request::Dial:
        Require(ok);
        connected = connected || HoldsWord(e.bytes, "CONNECT");
        break;
      case Request::Begin:
        begun = begun || Accepted(e.bytes, RSP_ACK, 0);
        break;
      case Request::Data:
        if (last.sequence == acked && Accepted(e.bytes, RSP_DATA_ACK, last.sequence)) {
          ++acked;
        }
        break;
      case Request::End:
        endAcked = Accepted(e.bytes, RSP_ACK, 0);
        break;
      default:
        break;
    }
  }
  if (success) {
    Require(ok && connected && begun && acked == blocks && ended && endAcked);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const bool ready = (Setup(), true);
  (void)ready;
  if (size == 0) {
    return 0;
  }
  const std::size_t pick = data[0] % g_files.size();
  g_input = data + 1;
  g_left = size - 1;
  fake::Events().clear();
  g_requests.clear();
  g_link = CFuzzLink{};
  g_link.m_path = g_paths[pick];
  g_reports = 0;
  g_body = nullptr;

  StartDownload();
  if (g_body) {
    g_body();  // the worker, after StartDownload has returned
  }

  Require(g_reports == 1);  // exactly one outcome
  Require(g_link.m_boxes == 1);
  const bool success = g_report.outcome == DownloadOutcome::Completed;
  Require(success == (g_link.m_status == kStatusTransferDone));
  CheckConversation(g_files[pick], success);
  Require(!g_terminalPort.IsOpen());
  return 0;
}
