#include "record/record_line.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <system_error>

#include "record/version.h"
#include "text/json_text.h"

namespace {

// A text as a JSON string, or null when it is empty.
std::string JsonStringOrNull(const std::string& text) {
  return text.empty() ? "null" : JsonString(text);
}

// A number as JSON, or null when there is none.
template <class T>
std::string JsonNumberOrNull(const std::optional<T>& number) {
  return number ? std::to_string(*number) : "null";
}

// The string member `key` of `object`; empty when it has none.
std::string StringMember(const JsonObject& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->second.kind == JsonValue::Kind::String ? it->second.text
                                                                          : std::string();
}

// The whole, unsigned number member `key` of `object`; none when it has none.
std::optional<std::uint64_t> NumberMember(const JsonObject& object, const char* key) {
  const auto it = object.find(key);
  if (it == object.end() || it->second.kind != JsonValue::Kind::Number) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  const std::string& text = it->second.text;
  const std::from_chars_result read =
      std::from_chars(text.data(), text.data() + text.size(), value);
  if (read.ec != std::errc() || read.ptr != text.data() + text.size()) {
    return std::nullopt;
  }
  return value;
}

}  // namespace

std::optional<RecordFailure> FailureOf(const DownloadReport& report) {
  const OutcomeFacts& facts = FactsOf(report.outcome);
  if (facts.stage == nullptr) {
    return std::nullopt;
  }
  RecordFailure failure;
  failure.stage = facts.stage;
  const FailureDetail& detail = report.failure;
  if (detail.Failed()) {
    failure.stage = StageName(detail.stage);
    failure.block = detail.block;
    if (detail.attempt != 0) {
      failure.attempt = detail.attempt;
    }
    if (detail.reason != FailureReason::None) {
      failure.reason = ReasonName(detail.reason);
    }
  }
  return failure;
}

std::string FailureJson(const std::optional<RecordFailure>& failure) {
  if (!failure) {
    return "null";
  }
  return "{\"stage\":" + JsonStringOrNull(failure->stage) +
         ",\"block\":" + JsonNumberOrNull(failure->block) +
         ",\"attempt\":" + JsonNumberOrNull(failure->attempt) +
         ",\"reason\":" + JsonStringOrNull(failure->reason) + "}";
}

std::string FormatRecordLine(const DownloadRecord& r) {
  char fcs[16] = "null";
  if (r.fileFcs) {
    std::snprintf(fcs, sizeof fcs, "\"0x%04X\"", static_cast<unsigned>(*r.fileFcs));
  }
  return "{\"start\":" + JsonString(r.start) + ",\"program\":" + JsonString(r.program) +
         ",\"version\":" + JsonString(r.version) + ",\"port\":" + JsonStringOrNull(r.port) +
         ",\"device\":" + JsonStringOrNull(r.device) + ",\"answer\":" + JsonStringOrNull(r.answer) +
         ",\"file\":" + JsonString(r.file) + ",\"file_bytes\":" + JsonNumberOrNull(r.fileBytes) +
         ",\"file_fcs\":" + fcs + ",\"outcome\":" + JsonString(r.outcome) +
         ",\"status\":" + JsonString(r.status) + ",\"code\":" + std::to_string(r.code) +
         ",\"failure\":" + FailureJson(r.failure) + ",\"blocks\":" + std::to_string(r.blocks) +
         ",\"retries\":" + std::to_string(r.retries) + ",\"seconds\":" + FixedText(r.seconds, 3) +
         ",\"trace\":" + JsonStringOrNull(r.trace) + "}";
}

bool ReadRecordLine(std::string_view line, DownloadRecord& r) {
  JsonObject object;
  if (!ReadJsonObject(line, object)) {
    return false;
  }
  r = DownloadRecord{};
  r.start = StringMember(object, "start");
  r.outcome = StringMember(object, "outcome");
  if (r.start.empty() || r.outcome.empty()) {
    return false;  // not one of ours
  }
  r.program = StringMember(object, "program");
  r.version = StringMember(object, "version");
  r.port = StringMember(object, "port");
  r.device = StringMember(object, "device");
  r.answer = StringMember(object, "answer");
  r.file = StringMember(object, "file");
  r.fileBytes = NumberMember(object, "file_bytes");
  if (const std::string fcs = StringMember(object, "file_fcs"); !fcs.empty()) {
    constexpr int kHex = 16;
    r.fileFcs = static_cast<std::uint16_t>(std::strtoul(fcs.c_str(), nullptr, kHex));
  }
  r.status = StringMember(object, "status");
  r.code = static_cast<std::uint16_t>(NumberMember(object, "code").value_or(0));
  if (const auto it = object.find("failure");
      it != object.end() && it->second.kind == JsonValue::Kind::Object) {
    JsonObject where;
    if (ReadJsonObject(it->second.text, where)) {
      RecordFailure failure{StringMember(where, "stage"), {}, {}, StringMember(where, "reason")};
      if (const auto block = NumberMember(where, "block")) failure.block = *block;
      if (const auto attempt = NumberMember(where, "attempt")) failure.attempt = *attempt;
      r.failure = failure;
    }
  }
  r.blocks = static_cast<std::uint32_t>(NumberMember(object, "blocks").value_or(0));
  r.retries = static_cast<std::uint32_t>(NumberMember(object, "retries").value_or(0));
  if (const auto it = object.find("seconds");
      it != object.end() && it->second.kind == JsonValue::Kind::Number) {
    (void)ParseJsonNumber(it->second.text, r.seconds);
  }
  r.trace = StringMember(object, "trace");
  return true;
}

const char* CorvanelVersion() { return kCorvanelVersion; }
