// The help window's text: one constant of 2,807 characters in three pieces. Its line breaks are
// "\r\n" except at the end of piece two, which is a lone "\n".
#pragma once

#include <cstddef>
#include <string_view>

namespace res {

inline constexpr std::size_t kHelpPieceOneLength = 1985;
inline constexpr std::size_t kHelpPieceTwoLength = 52;
inline constexpr std::size_t kHelpPieceThreeLength = 770;
inline constexpr std::size_t kHelpTextLength =
    kHelpPieceOneLength + kHelpPieceTwoLength + kHelpPieceThreeLength;

// The whole help text; every help window shows exactly this.
std::string_view HelpText();

// The three pieces it is joined from, in order.
std::string_view HelpPieceOne();
std::string_view HelpPieceTwo();
std::string_view HelpPieceThree();

}  // namespace res
