// Deletions of a monitor's rows from the data file, counted per monitor, so that figures
// derived from those rows and kept in memory (the uptime cache) know when to drop them.
// Any thread.
#pragma once

#include <cstdint>
#include <string>

namespace engine {

// Called after rows of the monitor were deleted from the data file.
void NoteMonitorDataDeleted(const std::string& monitorId);
// Grows with every deletion noted for the monitor; 0 while none was.
std::uint64_t MonitorDataGeneration(const std::string& monitorId);

}  // namespace engine
