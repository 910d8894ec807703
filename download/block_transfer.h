// Block transfer: carries the upgrade file to the handset once the terminal has answered
// "CONNECT". Stop-and-wait: CMD_BEGIN, then every 1,024-byte chunk as a numbered CMD_DATA that
// the handset acknowledges with the same number, then CMD_END with the image FCS.
//
// Contract:
// - Runs on the download worker thread only; uses g_terminalPort, the reply buffer, the codec's
//   areas and the areas below without locks (nothing else touches them meanwhile).
// - Three attempts for the begin request and for each data packet, each writing the very same
//   frame again; one for the end request. No sleeps: the reads' time-outs set the pace.
// - Nothing is allocated while it runs. Window changes go through the main window's link.
//
// The transfer's process-wide objects (each touched by one thread at a time; the worker's own
// are listed in download_worker.h):
//   object                written by                               read by
//   g_upgradeFile         DownloadWorker (opens, closes)           RunTransfer, SendImage
//   g_upgradeFileMeasure  DownloadWorker (at the open), or         SendImage (each chunk, and
//                         RunTransfer for a stream it did not      before the end request)
//                         open; RunTransfer clears it at its end
//   g_sizeCounter         in: DownloadWorker (whole-block count)   SendImage (the bar's range)
//                         out: SendImage (image bytes sent)        DownloadWorker (final position)
//   g_chunkBuffer         SendImage (each chunk read)              BuildDataPacket
//   g_imageBuffer         SendImage (each chunk, at its offset)    ImageFcs (for the end request)
//   g_imageFcs            SendImage                                BuildControlPacket (CMD_END)
//   codec areas           BuildControlPacket, BuildDataPacket,     WriteTerminal (g_frameBuffer),
//                         BuildFrame, ParseReply                   CheckReply (g_decodedReply)
//   g_transferCounts,     RunTransfer, SendImage                   the front-end's report, after
//   g_transferFailure                                              the transfer (same thread)
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>

#include "download/upgrade_file.h"
#include "protocol/failure_detail.h"

inline constexpr std::size_t kImageBufferSize = 819200;  // largest upgrade file: 800 blocks
inline constexpr std::size_t kChunkBufferSize = 2048;
inline constexpr std::size_t kBlockSize = 1024;  // payload of one data packet, and one block
inline constexpr unsigned kBlockShift = 10;      // bytes >> 10 = whole blocks
inline constexpr std::uint16_t kBeginAttempts = 3;
inline constexpr std::uint16_t kDataAttempts = 3;

// RunTransfer results: 0, the codec's codes passed on unchanged (1, 2, 4, 5), and the two
// failures of the upgrade file itself.
enum TransferResult : std::uint16_t {
  TRANSFER_OK = 0,
  TRANSFER_ERR_TOO_LARGE = 6,  // the file does not fit the image buffer; nothing was sent for it
  TRANSFER_ERR_FILE_READ = 7,  // reading the upgrade file failed
  // The file changed under the transfer (other size or change marks than at its open, or other
  // bytes read than measured): the end request is not sent for an image nobody chose.
  TRANSFER_ERR_FILE_CHANGED = 8,
};

extern std::array<std::uint8_t, kImageBufferSize> g_imageBuffer;
extern std::array<std::uint8_t, kChunkBufferSize> g_chunkBuffer;
// On entry: the file's whole-block count. After a transfer: the image bytes sent.
extern std::uint32_t g_sizeCounter;
// The open upgrade file, read as raw bytes (the worker opens and closes it).
extern std::FILE* g_upgradeFile;
// The upgrade file as measured when it was opened. The transfer sends exactly those bytes or
// fails before the end request.
struct UpgradeFileMeasure {
  std::FILE* file = nullptr;  // the stream measured; another one is measured anew
  FileMeasure measure;
};
extern UpgradeFileMeasure g_upgradeFileMeasure;

// What the last transfer did, for a front-end's report (reset as each transfer begins).
struct TransferCounts {
  std::uint32_t acknowledged = 0;  // data packets acknowledged
  std::uint32_t retries = 0;       // frames sent again after a failed attempt (begin and data)
};
extern TransferCounts g_transferCounts;
// Where the last transfer failed: its stage, block, attempt and the fault of its last reply (or
// of the upgrade file). Stage None after a success; reset as each transfer begins.
extern FailureDetail g_transferFailure;

std::uint16_t RunTransfer();

// Builds, frames and writes CMD_BEGIN or CMD_END (which carries g_imageFcs).
void SendControlPacket(std::uint16_t code);
// Reads one reply and tests it for RSP_ACK.
std::uint16_t ReadAck();
// The data phase and the end request.
std::uint16_t SendImage();
// The complemented FCS-16 of `count` image bytes.
std::uint16_t ImageFcs(const std::uint8_t* bytes, std::uint32_t count);
