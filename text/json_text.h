// JSON as the front-ends write it (corvanel-cli's --json, the download records) and read it back
// (corvanel-cli history): strings of UTF-8 bytes, numbers, null and flat objects.
//
// A text is written as UTF-8 where it is valid; a byte outside a valid sequence (a Linux file
// name may hold any) becomes the lone surrogate \udcXX, so that the JSON stays valid and the
// bytes can be told back exactly. Reading turns \udcXX back into that byte.
#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

// Numbers for a machine to read (records, traces, --json) are written and read without the C
// library's locale: a desktop program runs under the desktop's (Qt sets it), where printf("%f")
// would write a decimal comma and strtod would stop at a point.
//
// `value` in fixed notation with `decimals` digits after a '.', padded on the left with blanks
// to `width` characters, into `out` (`size` bytes, a terminating zero included). Returns the
// length; 0 when it does not fit. Allocates nothing.
std::size_t FormatFixed(char* out, std::size_t size, double value, int decimals, int width = 0);
std::string FixedText(double value, int decimals);
// A JSON number's spelling as a double; false when `text` is not one whole.
bool ParseJsonNumber(std::string_view text, double& value);

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
