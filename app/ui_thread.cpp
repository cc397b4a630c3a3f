#include "app/ui_thread.h"

#include <wx/event.h>

#include <mutex>

namespace app {
namespace {

std::mutex receiverMutex;
wxEvtHandler* receiver = nullptr;

}  // namespace

void SetUiThreadReceiver(wxEvtHandler* r) {
  std::lock_guard<std::mutex> lock(receiverMutex);
  receiver = r;
}

bool PostToUiThread(std::function<void()> fn) {
  // The lock keeps the receiver alive while the event is queued: clearing it waits.
  std::lock_guard<std::mutex> lock(receiverMutex);
  if (receiver == nullptr) return false;
  receiver->CallAfter([fn = std::move(fn)]() { fn(); });
  return true;
}

}  // namespace app
