#include "res/help_text.h"

#include <algorithm>
#include <array>

namespace res {
namespace {

// Piece one: the procedure, fourteen literals.
constexpr char kPieceOne[] =
    "Pre-requisite: The terminal must be connected to the PC via USB. For this USB driver needs to "
    "be installed. \r\n\r\n"
    "1. Handset: Power off the handset by removing its cable.\r\n \r\n"
    "If your existing handset software version is 1.5.5 or lower then that: Power it on and when "
    "the blank screen appears press the Off-Hook (Redial) key.\r\n"
    "If your existing handset software version is 1.5.6 or higher then that, Power it on whilst "
    "holding down the Off-Hook (Redial) key.\r\n\r\n"
    "2. Now HS is entered into software download mode. \r\n\r\n"
    "If your existing handset software version is 1.5.5 or lower then that: display should be  "
    "\"Welcome To Handset Software Upgrade Mode. Press ok to continue\". Press the ok button which "
    "should take you to a display \"Awaiting response from terminal\". \r\n\r\n"
    "If your existing handset software version is 1.5.6 or higher then,You should directly get the "
    "display \"Awaiting response from terminal\" and you are not required to press any "
    "button.\r\n\r\n"
    "3. PC: Make sure that the terminal is detected by the PC application. Select the handset "
    "software upgrade file and then press the \"Download software to handset\" button.\r\n\r\n"
    "Incase if PC application does not detect the terminal, make sure that terminal is connected "
    "to PC (or) some other PC application is not accessing the terminal USB port. close the PC "
    "application and start again from step 1. If problem still persist, please verify the driver "
    "installations or contact the manufacturer.\r\n\r\n"
    "4. The handset should now display progress indicator to reflect the download status.\r\n\r\n"
    "5. When the download is finished, the handset shall display \"Flash burning in progress, Do "
    "not disconnect the handset\".\r\n\r\n"
    "6. Once flash burning is finished, The handset shall display \"PLEASE DISCONNECT THE HANDSET "
    "AND RECONNECT IT TO COMPLETE THE UPGRADE PROCESS\".\r\n\r\n"
    "7. Please disconnect the handset and reconnect it to complete the upgrade process.\r\n\r\n"
    "8. Verify the new software version in the handset settings menu: Menu -> Handset settings -> "
    "About.\r\n\r\n";

// Piece two: the last step, ended by a lone line feed.
constexpr char kPieceTwo[] = "9. PC: Exit the PC application by pressing \"Close\".\n";

// Piece three: the emergency procedure, eight literals.
constexpr char kPieceThree[] =
    "\r\n\r\nSoftware upgrade - Flash Corruption - Emergency Procedure\r\n"
    "=====================================================\r\n\r\n"
    "During handset software upgrade, in some rare cases the memory of the handset will be "
    "corrupted.\r\n\r\n"
    "If the handset keeps restarting after a software upgrade, it is possible to revert to "
    "original factory software provided the new software attempted loaded was 1.6.6 or "
    "higher.\r\n\r\n"
    "In this case it is possible to revert to factory software by pressing the \"Back\" key on "
    "power up.\r\n\r\n"
    "In the display, the user will be given two options, \"Reset\" and \"Self test\". \r\n\r\n"
    "By pressing \"Reset\" the handset will revert to factory software and delete all contacts "
    "etc.\r\n\r\n"
    "The user can decide to keep the original factory software or repeat loading the new software.";

static_assert(sizeof kPieceOne - 1 == kHelpPieceOneLength);
static_assert(sizeof kPieceTwo - 1 == kHelpPieceTwoLength);
static_assert(sizeof kPieceThree - 1 == kHelpPieceThreeLength);

// The three pieces joined with nothing between them, built once at compile time.
constexpr std::array<char, kHelpTextLength> JoinPieces() {
  std::array<char, kHelpTextLength> text{};
  auto out = std::copy_n(kPieceOne, kHelpPieceOneLength, text.begin());
  out = std::copy_n(kPieceTwo, kHelpPieceTwoLength, out);
  std::copy_n(kPieceThree, kHelpPieceThreeLength, out);
  return text;
}

constexpr std::array<char, kHelpTextLength> kHelpText = JoinPieces();

}  // namespace

std::string_view HelpText() { return {kHelpText.data(), kHelpText.size()}; }
std::string_view HelpPieceOne() { return {kPieceOne, kHelpPieceOneLength}; }
std::string_view HelpPieceTwo() { return {kPieceTwo, kHelpPieceTwoLength}; }
std::string_view HelpPieceThree() { return {kPieceThree, kHelpPieceThreeLength}; }

}  // namespace res
