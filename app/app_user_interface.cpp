#include "app/app_user_interface.h"

#include <wx/msgdlg.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <unordered_set>
#include <utility>
#include <vector>

#include "app/main_frame.h"
#include "app/thread_message_box.h"
#include "app/ui_thread.h"
#include "platform/status.h"

namespace app {

struct AppUserInterface::Shared {
  std::function<CMainFrame*()> mainFrame;

  // Monitor updates waiting for the UI thread, in order, and the same as a set. Only the
  // first update of a batch wakes the UI thread; a monitor already waiting is not queued
  // twice.
  std::mutex mutex;
  std::vector<std::string> pendingUpdates;
  std::unordered_set<std::string> pendingIds;

  CMainFrame* Frame() const { return mainFrame ? mainFrame() : nullptr; }

  void DeliverUpdates() {
    std::vector<std::string> batch;
    {
      std::lock_guard<std::mutex> lock(mutex);
      batch.swap(pendingUpdates);
      pendingIds.clear();
    }
    for (const std::string& id : batch) {
      if (CMainFrame* frame = Frame()) frame->OnMonitorUpdated(id);
    }
  }
};

std::string FormatActionTestResult(std::uint32_t status) {
  if (status == 0) return "Action test successfuly completed";
  char code[16];
  std::snprintf(code, sizeof code, "%#010X", static_cast<unsigned>(status));
  return std::string("Action test error: ") + code + " " + platform::GetSystemErrorText(status);
}

AppUserInterface::AppUserInterface(std::function<CMainFrame*()> mainFrame)
    : shared_(std::make_shared<Shared>()) {
  shared_->mainFrame = std::move(mainFrame);
}

AppUserInterface::~AppUserInterface() = default;

void AppUserInterface::MonitorUpdated(std::string monitorId) {
  bool wake;
  {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    auto& pending = shared_->pendingUpdates;
    if (!shared_->pendingIds.insert(monitorId).second) return;
    wake = pending.empty();
    pending.push_back(std::move(monitorId));
  }
  if (!wake) return;
  if (!PostToUiThread([shared = shared_]() { shared->DeliverUpdates(); })) {
    std::lock_guard<std::mutex> lock(shared_->mutex);
    shared_->pendingUpdates.clear();
    shared_->pendingIds.clear();
  }
}

void AppUserInterface::MonitorStopped(std::string monitorId) {
  PostToUiThread([shared = shared_, monitorId = std::move(monitorId)]() {
    if (CMainFrame* frame = shared->Frame()) frame->OnMonitorStopped(monitorId);
  });
}

void AppUserInterface::MonitorDeleted(std::string monitorId) {
  PostToUiThread([shared = shared_, monitorId = std::move(monitorId)]() {
    if (CMainFrame* frame = shared->Frame()) frame->OnMonitorDeleted(monitorId);
  });
}

void AppUserInterface::RemovalRefused(std::string monitorId) {
  PostToUiThread([shared = shared_, monitorId = std::move(monitorId)]() {
    if (CMainFrame* frame = shared->Frame()) frame->OnRemovalRefused(monitorId);
  });
}

void AppUserInterface::TodayFiguresRenewed() {
  PostToUiThread([shared = shared_]() {
    if (CMainFrame* frame = shared->Frame()) frame->OnTodayFiguresRenewed();
  });
}

void AppUserInterface::PagesWritten() {
  PostToUiThread([shared = shared_]() {
    if (CMainFrame* frame = shared->Frame()) frame->OnPagesWritten();
  });
}

void AppUserInterface::ShowBalloon(std::string title, std::string text, MessageKind kind) {
  PostToUiThread([shared = shared_, title = std::move(title), text = std::move(text), kind]() {
    if (CMainFrame* frame = shared->Frame())
      frame->ShowBalloon(title, text, static_cast<int>(kind));
  });
}

void AppUserInterface::RestoreMainWindow() {
  PostToUiThread([shared = shared_]() {
    if (CMainFrame* frame = shared->Frame()) frame->ShowInTaskbar(true);
  });
}

void AppUserInterface::ShowAlertMessage(std::string caption, std::string text, MessageKind kind) {
  ThreadMessageBox::ShowAsync(std::move(caption), std::move(text), static_cast<int>(kind));
}

void AppUserInterface::ShowActionTestResult(std::uint32_t status) {
  PostToUiThread([shared = shared_, status]() {
    wxMessageBox(wxString::FromUTF8(FormatActionTestResult(status)), "Lumivar",
                 wxOK | (status == 0 ? wxICON_INFORMATION : wxICON_ERROR), shared->Frame());
  });
}

}  // namespace app
