#include "engine/data/data_file_status.h"

#include <sqlite3.h>

#include <mutex>

#include "engine/data/data_files.h"
#include "engine/data/log_writer.h"
#include "engine/services.h"
#include "engine/user_interface.h"
#include "platform/documents.h"

namespace engine {
namespace {

constexpr const char* kCaption = "Lumivar";

struct WriteState {
  std::mutex mutex;
  bool failing = false;
  std::string failureText;  // told when the failing began
};

// Never destroyed: a poll abandoned at exit may still report its storing.
WriteState& GetWriteState() {
  static auto* state = new WriteState;
  return *state;
}

std::string DataFilePath() { return platform::GetDocumentsFolder() + DataFiles::kDataFileName; }

}  // namespace

std::string DataFileFailureText(const std::string& path, int result) {
  return "The data file " + path + " cannot be written (" + sqlite3_errstr(result) +
         "). Samples are not stored until it can be written again.";
}

std::string DataFileRecoveredText(const std::string& path) {
  return "The data file " + path + " can be written again.";
}

void NoteDataFileWrite(const std::string& monitorId, int result) {
  const bool failed = result != SQLITE_OK;
  WriteState& state = GetWriteState();
  std::string text;
  std::string failureText;
  {
    std::lock_guard lock(state.mutex);
    if (state.failing == failed) return;
    state.failing = failed;
    if (failed) {
      text = state.failureText = DataFileFailureText(DataFilePath(), result);
    } else {
      text = DataFileRecoveredText(DataFilePath());
      failureText.swap(state.failureText);
    }
  }
  // While the file takes no rows, the row of the beginning could not be written either:
  // both rows are written when the failing ends.
  if (!failed) {
    WriteLogRow(monitorId, 0, failureText);
    WriteLogRow(monitorId, 0, text);
  }
  if (IUserInterface* ui = Services::Ui()) {
    ui->ShowAlertMessage(
        kCaption, text,
        failed ? IUserInterface::MessageKind::kError : IUserInterface::MessageKind::kInformation);
  }
}

}  // namespace engine
