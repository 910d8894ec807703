// What the Qt backend's parts share: the properties every built control carries.
#pragma once

namespace qtui {

// Dynamic properties every built control carries.
inline constexpr char kIdProperty[] = "dlgCtrlId";  // the template ID
inline constexpr char kTextProperty[] =
    "dlgWindowText";  // the text as last set, before display rules
inline constexpr char kNoPrefixProperty[] = "dlgNoPrefix";  // a static that shows '&' as itself
inline constexpr char kBytesProperty[] = "dlgWindowBytes";  // a text set as bytes not UTF-8

}  // namespace qtui
