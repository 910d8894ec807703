#include "download/block_transfer.h"

#include <cstring>
#include <optional>

#include "download/control_ids.h"
#include "download/messages.h"
#include "download/window_link.h"
#include "protocol/frame_codec.h"
#include "serial/serial_port.h"

std::array<std::uint8_t, kImageBufferSize> g_imageBuffer{};
std::array<std::uint8_t, kChunkBufferSize> g_chunkBuffer{};
std::uint32_t g_sizeCounter = 0;
std::FILE* g_upgradeFile = nullptr;
TransferCounts g_transferCounts;
FailureDetail g_transferFailure;

UpgradeFileMeasure g_upgradeFileMeasure;

namespace {

// The image read so far is still the file as measured at its open: the stream is the one
// measured and no more bytes came than it held then.
bool StillAsMeasured(std::size_t bytesRead) {
  return g_upgradeFileMeasure.file == g_upgradeFile &&
         bytesRead <= g_upgradeFileMeasure.measure.size;
}

// The whole image was read and the file is unchanged since its open.
bool WholeAndUnchanged(std::size_t bytesRead) {
  FileMeasure now;
  return StillAsMeasured(bytesRead) && bytesRead == g_upgradeFileMeasure.measure.size &&
         MeasureOpenFile(g_upgradeFile, now) && now == g_upgradeFileMeasure.measure;
}

// What was wrong with the reply ReadReply read last.
FailureReason g_lastReplyFault = FailureReason::None;

// One read of the reply, decoded and tested: ParseReply's result, or CheckReply's.
std::uint16_t ReadReply(std::uint16_t expected, std::uint16_t sequence) {
  const std::uint16_t received = ReadTerminal(g_replyBuffer.data());
  std::uint16_t count = received;
  const std::uint16_t parsed = ParseReply(g_replyBuffer.data(), count);
  const std::uint16_t checked = parsed == PARSE_OK
                                    ? CheckReply(g_decodedReply.packet.data(), expected, sequence)
                                    : std::uint16_t{CHECK_OK};
  const std::uint16_t result = parsed != PARSE_OK ? parsed : checked;
  // A device that went away answers nothing ever again: that is no silent handset.
  g_lastReplyFault = result != TRANSFER_OK && TerminalPortLost()
                         ? FailureReason::PortLost
                         : ReplyFault(g_replyBuffer.data(), received, parsed, checked, expected);
  return result;
}

// Whether another attempt could be answered: never once the device is gone.
bool WorthAnotherAttempt(std::uint16_t attempt, std::uint16_t attempts) {
  return attempt < attempts && g_lastReplyFault != FailureReason::PortLost;
}

// Keeps where the transfer failed and passes its result on.
std::uint16_t Failed(std::uint16_t result, DownloadStage stage, std::uint16_t attempt,
                     FailureReason reason, std::optional<std::uint16_t> block = std::nullopt) {
  g_transferFailure = FailureDetail{stage, block, attempt, reason};
  return result;
}

}  // namespace

std::uint16_t ImageFcs(const std::uint8_t* bytes, std::uint32_t count) {
  return static_cast<std::uint16_t>(~Fcs16(kFcsInitial, bytes, count));
}

void SendControlPacket(std::uint16_t code) {
  BuildControlPacket(code);
  const auto length =
      static_cast<std::uint16_t>(code == CMD_END ? kEndPacketSize : kControlPacketSize);
  const std::uint16_t n = BuildFrame(g_packetArea.bytes.data(), length);
  WriteTerminal(g_frameBuffer.data(), n);
}

std::uint16_t ReadAck() { return ReadReply(RSP_ACK, 0); }

std::uint16_t RunTransfer() {
  // A measure holds for one transfer: a later stream may reuse the address of this one.
  struct ForgetMeasure {
    ~ForgetMeasure() { g_upgradeFileMeasure = UpgradeFileMeasure{}; }
  } forget;
  g_transferCounts = TransferCounts{};
  g_transferFailure = FailureDetail{};
  if (CWindowLink* link = GetMainWindowLink()) {
    link->OnStage(DownloadStage::Begin);
  }
  SetFrameHeader();
  // A stream opened without the worker (a test's, a benchmark's) is measured here.
  if (g_upgradeFileMeasure.file != g_upgradeFile) {
    FileMeasure measure;
    if (!MeasureOpenFile(g_upgradeFile, measure)) {
      return Failed(TRANSFER_ERR_FILE_READ, DownloadStage::Begin, 0, FailureReason::FileUnreadable);
    }
    g_upgradeFileMeasure = UpgradeFileMeasure{g_upgradeFile, measure};
  }
  // A file that cannot fit the image buffer is refused before the handset hears anything.
  if (g_upgradeFileMeasure.measure.size > kImageBufferSize) {
    return Failed(TRANSFER_ERR_TOO_LARGE, DownloadStage::Begin, 0, FailureReason::FileTooLarge);
  }
  for (std::uint16_t attempt = 1;; ++attempt) {
    SendControlPacket(CMD_BEGIN);
    const std::uint16_t result = ReadAck();
    if (result == TRANSFER_OK) {
      return SendImage();
    }
    if (!WorthAnotherAttempt(attempt, kBeginAttempts)) {
      return Failed(result, DownloadStage::Begin, attempt, g_lastReplyFault);
    }
    ++g_transferCounts.retries;
  }
}

std::uint16_t SendImage() {
  CWindowLink* link = GetMainWindowLink();
  if (link != nullptr) {
    link->OnStage(DownloadStage::Data);
    link->SetItemText(IDC_STATUS, kStatusTransferring);
    link->SetProgressRange(IDC_PROGRESS, 0, static_cast<std::int32_t>(g_sizeCounter));
    link->SetProgressStep(IDC_PROGRESS, 1);
  }
  g_sizeCounter = 0;
  std::uint16_t sequence = 0;
  std::uint32_t acknowledged = 0;
  std::size_t writePosition = 0;

  while (std::feof(g_upgradeFile) == 0) {
    const std::size_t n = std::fread(g_chunkBuffer.data(), 1, kBlockSize, g_upgradeFile);
    // A failed read does not set end-of-file; stop rather than send empty packets for ever.
    if (std::ferror(g_upgradeFile) != 0) {
      return Failed(TRANSFER_ERR_FILE_READ, DownloadStage::Data, 0, FailureReason::FileUnreadable,
                    sequence);
    }
    // The file may have grown since it was measured: never write beyond the image buffer.
    if (n > kImageBufferSize - writePosition) {
      return Failed(TRANSFER_ERR_TOO_LARGE, DownloadStage::Data, 0, FailureReason::FileTooLarge,
                    sequence);
    }
    // More bytes than measured, or the last read came up short of the measure: the file is no
    // longer the one chosen. Stop before its block goes out.
    const bool last = n < kBlockSize;
    if (!StillAsMeasured(writePosition + n) ||
        (last && writePosition + n != g_upgradeFileMeasure.measure.size)) {
      return Failed(TRANSFER_ERR_FILE_CHANGED, DownloadStage::Data, 0, FailureReason::FileChanged,
                    sequence);
    }
    if (n > 0) {
      std::memcpy(g_imageBuffer.data() + writePosition, g_chunkBuffer.data(), n);
    }
    writePosition += n;
    g_sizeCounter += static_cast<std::uint32_t>(n);

    BuildDataPacket(CMD_DATA, sequence, g_chunkBuffer.data(), static_cast<std::uint16_t>(n));
    const std::uint16_t frameLength =
        BuildFrame(g_packetArea.bytes.data(), static_cast<std::uint16_t>(n + kPacketHeaderSize));

    for (std::uint16_t attempt = 1;; ++attempt) {
      WriteTerminal(g_frameBuffer.data(), frameLength);
      const std::uint16_t result = ReadReply(RSP_DATA_ACK, sequence);
      if (result == TRANSFER_OK) {
        break;
      }
      if (!WorthAnotherAttempt(attempt, kDataAttempts)) {
        return Failed(result, DownloadStage::Data, attempt, g_lastReplyFault, sequence);
      }
      ++g_transferCounts.retries;
    }
    ++acknowledged;
    g_transferCounts.acknowledged = acknowledged;
    if (link != nullptr) {
      link->SetProgressPos(IDC_PROGRESS, static_cast<std::int32_t>(acknowledged));
    }
    ++sequence;
  }

  // The end request makes the handset burn the image: only for the file exactly as chosen.
  if (link != nullptr) {
    link->OnStage(DownloadStage::End);
  }
  if (!WholeAndUnchanged(writePosition)) {
    return Failed(TRANSFER_ERR_FILE_CHANGED, DownloadStage::End, 0, FailureReason::FileChanged);
  }
  g_imageFcs = ImageFcs(g_imageBuffer.data(), g_sizeCounter);
  SendControlPacket(CMD_END);
  // The handset's answer to the end request decides: the operator is told that burning has
  // started only when the handset confirmed the end.
  const std::uint16_t result = ReadAck();
  if (result != TRANSFER_OK) {
    return Failed(result, DownloadStage::End, 1, g_lastReplyFault);
  }
  return result;
}
