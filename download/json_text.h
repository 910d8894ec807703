// JSON as the front-ends write it (corvanel-cli's --json, the download records) and read it back
// (corvanel-cli history): strings of UTF-8 bytes, numbers, null and flat objects.
//
// A text is written as UTF-8 where it is valid; a byte outside a valid sequence (a Linux file
// name may hold any) becomes the lone surrogate \udcXX, so that the JSON stays valid and the
// bytes can be told back exactly. Reading turns \udcXX back into that byte.
#pragma once

#include <map>
#include <string>
#include <string_view>

// `text` as a JSON string, quotes included.
std::string JsonString(std::string_view text);

// One member of an object as read: `text` is a string's bytes, a number's or a literal's
// spelling, or a nested object's whole source (read it with ReadJsonObject in turn).
struct JsonValue {
  enum class Kind { Null, Literal, Number, String, Object };
  Kind kind = Kind::Null;
  std::string text;
};
using JsonObject = std::map<std::string, JsonValue, std::less<>>;

// Reads one object that makes up the whole of `text` (blanks around it allowed). Arrays are not
// read. False when `text` is anything else.
bool ReadJsonObject(std::string_view text, JsonObject& object);
