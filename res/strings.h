// The program's string table: user-visible texts by numeric identifier.
// Read-only data; any thread may call.
#pragma once

namespace res {

// The text of the entry with this identifier, or nullptr when there is none.
const char* FindString(unsigned id);

}  // namespace res
