#include "protocol/failure_detail.h"

#include "protocol/frame_codec.h"

const char* ReasonName(FailureReason reason) {
  switch (reason) {
    case FailureReason::None:
      return "none";
    case FailureReason::NoReply:
      return "no-reply";
    case FailureReason::CutReply:
      return "cut-reply";
    case FailureReason::BadFrame:
      return "bad-frame";
    case FailureReason::OtherSequence:
      return "other-sequence";
    case FailureReason::OtherCode:
      return "other-code";
    case FailureReason::OtherAnswer:
      return "other-answer";
    case FailureReason::FileTooLarge:
      return "file-too-large";
    case FailureReason::FileUnreadable:
      return "file-unreadable";
    case FailureReason::FileChanged:
      return "file-changed";
    case FailureReason::PortLost:
      return "port-lost";
  }
  return "none";
}

FailureReason ReplyFault(const std::uint8_t* reply, std::uint16_t count, std::uint16_t parsed,
                         std::uint16_t checked, std::uint16_t expectedCode) {
  switch (parsed) {
    case PARSE_OK:
      break;
    case PARSE_ERR_NOREPLY:
      return FailureReason::NoReply;
    case PARSE_ERR_NOFLAG:
      // An opening flag with too few bytes after it is a frame cut short, not a bad one.
      return count > 0 && reply[0] == kFrameFlag ? FailureReason::CutReply
                                                 : FailureReason::BadFrame;
    default:
      return FailureReason::BadFrame;  // another address or control byte
  }
  switch (checked) {
    case CHECK_OK:
      return FailureReason::None;
    case CHECK_ERR_SEQUENCE:
      return FailureReason::OtherSequence;
    default:
      // ParseReply has just decoded the reply: its length says whether the code was there.
      return g_decodedLength < ReplyBytesNeeded(expectedCode) ? FailureReason::CutReply
                                                              : FailureReason::OtherCode;
  }
}
