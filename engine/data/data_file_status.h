// Whether the data file can be written, as the polls find it when they store their
// samples. A full disk, a read-only or locked file make every poll fail to store; the
// user is told once when this begins and once when it ends (a message and a log row on
// the monitor that found it), never once per poll. Any thread.
#pragma once

#include <string>

namespace engine {

// The outcome of one poll's storing on the data file: 0 (SQLITE_OK) or SQLite's result.
void NoteDataFileWrite(const std::string& monitorId, int result);

// The user-visible texts, for the result that began the failure.
std::string DataFileFailureText(const std::string& path, int result);
std::string DataFileRecoveredText(const std::string& path);

}  // namespace engine
