// The string table.
#pragma once

#include <string_view>

namespace res {

// The string resource with this ID (UTF-8), or an empty text when there is none.
std::string_view LoadString(int id);

}  // namespace res
