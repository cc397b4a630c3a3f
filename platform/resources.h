// Access to the program's string table from every layer below the user interface.
// Any thread may call.
#pragma once

#include <string>

namespace platform {

// The text of the string-table entry with this identifier; "" when there is none.
std::string LoadResourceString(unsigned id);

}  // namespace platform
