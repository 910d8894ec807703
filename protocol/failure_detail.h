// Where a failed download failed, beside its result code and the operator's texts (which stay
// as they are): the stage, the data block, the attempt and what was wrong with the last reply.
// Support reads it to tell a silent handset from a noisy line; it is plain data with stable
// lower-case names (StageName, ReasonName), so that a report or a record can write it as it is.
#pragma once

#include <cstdint>
#include <optional>

#include "protocol/download_stage.h"

enum class FailureReason : std::uint8_t {
  None,            // nothing has failed
  NoReply,         // nothing came back within the read's time-outs (or the port was gone)
  CutReply,        // a frame began but ended before the fields that are tested
  BadFrame,        // no opening flag, or another address or control byte
  OtherSequence,   // the acknowledgement of another block
  OtherCode,       // another packet code
  OtherAnswer,     // the terminal answered, but without the word waited for
  FileTooLarge,    // the upgrade file no longer fits the image buffer
  FileUnreadable,  // the upgrade file could not be read
  FileChanged,     // the upgrade file changed since its open
  PortLost,        // the port's device went away (unplugged): no further attempt was made
};

struct FailureDetail {
  DownloadStage stage = DownloadStage::None;  // None: nothing failed
  std::optional<std::uint16_t> block;         // the data block's sequence number (Data only)
  std::uint16_t attempt = 0;  // the failed attempt, from 1; 0 when no exchange failed (the file)
  FailureReason reason = FailureReason::None;

  bool Failed() const { return stage != DownloadStage::None; }
};

// "no-reply", "cut-reply", "bad-frame", "other-sequence", "other-code", "other-answer",
// "file-too-large", "file-unreadable", "file-changed", "port-lost"; "none" for None.
const char* ReasonName(FailureReason reason);

// What was wrong with one reply of the transfer, from the `count` bytes read, the result of
// ParseReply on them and (when that was 0) of CheckReply against `expectedCode`. None when both
// were 0.
FailureReason ReplyFault(const std::uint8_t* reply, std::uint16_t count, std::uint16_t parsed,
                         std::uint16_t checked, std::uint16_t expectedCode);

// What was wrong with one answer of the terminal that lacked its word: the port's device gone,
// nothing at all, or something else.
constexpr FailureReason AnswerFault(std::uint16_t count, bool portLost = false) {
  return portLost ? FailureReason::PortLost
                  : (count == 0 ? FailureReason::NoReply : FailureReason::OtherAnswer);
}
