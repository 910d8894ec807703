// UTF-8 as the core keeps texts and paths: what counts as one character, for the rules that are
// counted in characters the operator sees (the path box's 299), and for front-ends that must tell
// a valid sequence from a stray byte (a Linux file name may hold any byte).
#pragma once

#include <cstddef>
#include <string_view>

inline constexpr std::size_t kMaxUtf8SequenceBytes = 4;  // U+10000 to U+10FFFF

// The length of the valid UTF-8 sequence at the start of `text` (1 to 4); 0 when it starts with
// a byte that begins none (no overlong form, no surrogate, nothing above U+10FFFF). Empty: 0.
std::size_t Utf8SequenceLength(std::string_view text);

// The characters of `text`: each valid sequence is one, and so is each byte outside one (it
// shows as one replacement character).
std::size_t Utf8CharacterCount(std::string_view text);
