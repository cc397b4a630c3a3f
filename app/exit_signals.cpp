#include "app/exit_signals.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>
#include <wx/dialog.h>

#include <algorithm>

namespace app {
namespace {

gboolean OnExitSignal(gpointer data) {
  (*static_cast<std::function<void()>*>(data))();
  return G_SOURCE_CONTINUE;
}

}  // namespace

ModalDialogTracker::ModalDialogTracker() { Register(); }

ModalDialogTracker::~ModalDialogTracker() { Unregister(); }

int ModalDialogTracker::Enter(wxDialog* dialog) {
  open_.push_back(dialog);
  return wxID_NONE;
}

void ModalDialogTracker::Exit(wxDialog* dialog) {
  auto it = std::find(open_.rbegin(), open_.rend(), dialog);
  if (it != open_.rend()) open_.erase(std::next(it).base());
}

void ModalDialogTracker::EndAll() {
  // The innermost first; each one returns to its caller once the nested loops unwind.
  const std::vector<wxDialog*> open(open_.rbegin(), open_.rend());
  for (wxDialog* dialog : open) {
    if (dialog->IsModal()) {
      dialog->EndModal(wxID_CANCEL);
    } else if (GtkWidget* widget = dialog->GetHandle();
               widget != nullptr && GTK_IS_DIALOG(widget)) {
      // A native message box runs its own loop, which ends on a response.
      gtk_dialog_response(GTK_DIALOG(widget), GTK_RESPONSE_CANCEL);
    }
  }
}

ExitSignalWatch::ExitSignalWatch(std::function<void()> onSignal)
    : onSignal_(std::make_unique<std::function<void()>>(std::move(onSignal))) {
  for (int signum : {SIGTERM, SIGHUP})
    sources_.push_back(g_unix_signal_add(signum, OnExitSignal, onSignal_.get()));
}

ExitSignalWatch::~ExitSignalWatch() {
  for (unsigned id : sources_) g_source_remove(id);
}

}  // namespace app
