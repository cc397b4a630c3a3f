#include "app/modal_command.h"

#include <wx/event.h>

#include <memory>
#include <utility>

namespace app {
namespace {

// Alive while a window waits to open; the waiting call owns it, so a call dropped with its
// owner releases it too.
std::weak_ptr<int> waiting;

}  // namespace

void OpenModalLater(wxEvtHandler* owner, std::function<void()> open) {
  if (owner == nullptr || !waiting.expired()) return;
  auto token = std::make_shared<int>(0);
  waiting = token;
  owner->CallAfter([token = std::move(token), open = std::move(open)]() mutable {
    token.reset();
    open();
  });
}

}  // namespace app
