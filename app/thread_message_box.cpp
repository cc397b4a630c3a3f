#include "app/thread_message_box.h"

#include <wx/artprov.h>
#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <wx/app.h>
#include <wx/modalhook.h>
#include <wx/settings.h>
#include <wx/toplevel.h>

#include <algorithm>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "app/ui_thread.h"
#include "controls/accessible_name.h"
#include "controls/font_scale.h"

namespace app {
namespace {

// The open box; touched on the UI thread only. A box being closed is detached first, so
// that messages arriving meanwhile open a new box.
ThreadMessageBox* openBox = nullptr;

// A box opened while a modal dialog is up would lie beyond the dialog's grab, unanswerable,
// perhaps over the very question the user must answer: messages that would open one wait
// for the last modal dialog to end. UI thread only.
class ModalDialogs : public wxModalDialogHook {
 public:
  ModalDialogs() { Register(); }
  bool Open() const { return open_ > 0; }

 protected:
  int Enter(wxDialog* dialog) override {
    if (dialog != openBox) ++open_;
    return wxID_NONE;
  }
  void Exit(wxDialog* dialog) override {
    if (dialog == openBox || open_ == 0 || --open_ > 0) return;
    // Once the dialog is gone from the screen.
    PostToUiThread([] { ThreadMessageBox::ShowWaiting(); });
  }

 private:
  int open_ = 0;
};

ModalDialogs& Modals() {
  static auto* modals = new ModalDialogs();
  return *modals;
}

// The messages handed over and not yet shown, in the order they came: on their way to the
// UI thread, or waiting for the modal dialogs to end. A message leaves the list when it
// reaches a box or is taken. Any thread, under the mutex.
struct Untold {
  struct Entry {
    std::uint64_t id = 0;
    AlertPages::Message message;
    bool waiting = false;  // for the modal dialogs to end
  };
  std::mutex mutex;
  std::vector<Entry> entries;
  std::uint64_t lastId = 0;
  bool showing = true;

  std::vector<Entry>::iterator Find(std::uint64_t id) {
    return std::find_if(entries.begin(), entries.end(),
                        [id](const Entry& entry) { return entry.id == id; });
  }
};

Untold& Kept() {
  // Never destroyed: an engine thread may still hand a message over while the process ends.
  static auto* untold = new Untold();
  return *untold;
}

// The text column's width: the widest line of the caption or the message, within these
// bounds of the layout font (wider captions wrap).
constexpr int kLeastTextWidth = 380;
constexpr int kMostTextWidth = 640;
// The message's height in the layout font, and the most it grows to for a longer message.
constexpr int kLeastMessageHeight = 120;
constexpr int kMostMessageHeight = 360;

wxBitmap IconFor(int kind) {
  return wxArtProvider::GetBitmap(kind == kAlertKindError ? wxART_ERROR : wxART_INFORMATION,
                                  wxART_MESSAGE_BOX);
}

// The icon's accessible name, after the kind of message it marks.
const char* IconName(int kind) { return kind == kAlertKindError ? "Error" : "Information"; }

}  // namespace

bool AlertPages::Add(Message message) {
  if (!messages_.empty() && messages_.back() == message) return false;
  messages_.push_back(std::move(message));
  ShowPage(Count() - 1);
  return true;
}

bool AlertPages::ShowPage(int index) {
  if (index < 0 || index >= Count()) return false;
  current_ = index;
  const int kind = messages_[index].kind;
  if (kind == kAlertKindError || kind == kAlertKindInformation) iconKind_ = kind;
  return true;
}

std::string AlertPages::CounterText() const {
  if (messages_.empty()) return "";
  return std::to_string(current_ + 1) + "/" + std::to_string(Count());
}

AlertBoxText AlertBoxTextSize(int captionWidth, int messageWidth, int messageHeight, wxSize least,
                              wxSize most, int messageFrame) {
  AlertBoxText fit;
  fit.width = std::clamp(std::max(captionWidth, messageWidth + messageFrame), least.x,
                         std::max(least.x, most.x));
  fit.messageHeight = std::clamp(messageHeight + messageFrame, least.y, std::max(least.y, most.y));
  return fit;
}

std::string AlertMessageLine(const AlertPages::Message& message) {
  std::string text;
  for (std::size_t begin = 0; begin < message.text.size();) {
    std::size_t end = message.text.find_first_of("\r\n", begin);
    if (end == std::string::npos) end = message.text.size();
    if (end > begin) text += (text.empty() ? "" : " ") + message.text.substr(begin, end - begin);
    begin = end + 1;
  }
  if (message.caption.empty() || message.caption == "Lumivar") return text;
  return text.empty() ? message.caption : message.caption + ": " + text;
}

void ThreadMessageBox::ShowAsync(std::string caption, std::string text, int kind) {
  Untold& untold = Kept();
  std::lock_guard<std::mutex> lock(untold.mutex);
  const std::uint64_t id = ++untold.lastId;
  untold.entries.push_back({id, {std::move(caption), std::move(text), kind}});
  // Posted under the lock, so the UI thread sees the messages in the order they came.
  if (untold.showing) PostToUiThread([id] { Deliver(id); });
}

void ThreadMessageBox::StopShowing() {
  std::lock_guard<std::mutex> lock(Kept().mutex);
  Kept().showing = false;
}

std::vector<AlertPages::Message> ThreadMessageBox::TakeUntold() {
  Untold& untold = Kept();
  std::lock_guard<std::mutex> lock(untold.mutex);
  untold.showing = false;
  std::vector<AlertPages::Message> taken;
  for (Untold::Entry& entry : untold.entries) taken.push_back(std::move(entry.message));
  untold.entries.clear();
  return taken;
}

void ThreadMessageBox::ResumeShowing() {
  Untold& untold = Kept();
  std::lock_guard<std::mutex> lock(untold.mutex);
  untold.showing = true;
  for (const Untold::Entry& entry : untold.entries)
    PostToUiThread([id = entry.id] { Deliver(id); });
}

ThreadMessageBox* ThreadMessageBox::Current() { return openBox; }

void ThreadMessageBox::WatchModalDialogs() { Modals(); }

void ThreadMessageBox::ShowWaiting() {
  std::vector<std::uint64_t> waiting;
  {
    std::lock_guard<std::mutex> lock(Kept().mutex);
    for (const Untold::Entry& entry : Kept().entries)
      if (entry.waiting) waiting.push_back(entry.id);
  }
  for (const std::uint64_t id : waiting) Deliver(id);
}

void ThreadMessageBox::Deliver(std::uint64_t id) {
  AlertPages::Message message;
  {
    Untold& untold = Kept();
    std::lock_guard<std::mutex> lock(untold.mutex);
    const auto entry = untold.Find(id);
    if (entry == untold.entries.end() || !untold.showing) return;
    if (openBox == nullptr && Modals().Open()) {
      // The same message waiting already is told then; this one would only repeat it.
      const bool told = std::any_of(
          untold.entries.begin(), untold.entries.end(), [&entry](const Untold::Entry& other) {
            return other.waiting && other.id != entry->id && other.message == entry->message;
          });
      if (told)
        untold.entries.erase(entry);
      else
        entry->waiting = true;
      return;
    }
    message = std::move(entry->message);
    untold.entries.erase(entry);
  }
  if (openBox == nullptr) {
    openBox = new ThreadMessageBox();
    openBox->AddMessage(std::move(message.caption), std::move(message.text), message.kind);
    openBox->Place();
    openBox->Show();
  } else {
    openBox->AddMessage(std::move(message.caption), std::move(message.text), message.kind);
  }
}

void ThreadMessageBox::CloseCurrent() {
  if (openBox != nullptr) openBox->Discard();
}

ThreadMessageBox::ThreadMessageBox()
    : wxDialog(nullptr, wxID_ANY, "Lumivar - Alert", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE | wxRESIZE_BORDER | wxDIALOG_NO_PARENT) {
  icon_ = new wxStaticBitmap(this, wxID_ANY, IconFor(kAlertKindInformation));
  controls::SetAccessibleName(icon_, IconName(kAlertKindInformation));
  caption_ = new wxStaticText(this, wxID_ANY, "");
  caption_->SetFont(caption_->GetFont().Bold());
  message_ = new wxTextCtrl(this, wxID_ANY, "", wxDefaultPosition,
                            controls::FontScaled(wxSize(kLeastTextWidth, kLeastMessageHeight)),
                            wxTE_MULTILINE | wxTE_READONLY | wxTE_WORDWRAP);
  counter_ = new wxStaticText(this, wxID_ANY, "");
  prev_ = new wxButton(this, wxID_BACKWARD, "Prev");
  next_ = new wxButton(this, wxID_FORWARD, "Next");
  close_ = new wxButton(this, wxID_CLOSE, "Close");
  close_->SetDefault();
  SetAffirmativeId(wxID_CLOSE);
  SetEscapeId(wxID_CLOSE);

  auto* text = new wxBoxSizer(wxVERTICAL);
  text->Add(caption_, 0, wxEXPAND | wxBOTTOM, FromDIP(6));
  text->Add(message_, 1, wxEXPAND);
  auto* top = new wxBoxSizer(wxHORIZONTAL);
  top->Add(icon_, 0, wxALIGN_TOP | wxRIGHT, FromDIP(10));
  top->Add(text, 1, wxEXPAND);
  auto* buttons = new wxBoxSizer(wxHORIZONTAL);
  buttons->Add(counter_, 0, wxALIGN_CENTER_VERTICAL);
  buttons->AddStretchSpacer();
  buttons->Add(prev_, 0, wxRIGHT, FromDIP(6));
  buttons->Add(next_, 0, wxRIGHT, FromDIP(12));
  buttons->Add(close_);
  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(top, 1, wxEXPAND | wxALL, FromDIP(12));
  all->Add(buttons, 0, wxEXPAND | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(12));
  SetSizerAndFit(all);

  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { ShowPage(pages_.Current() - 1); }, wxID_BACKWARD);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { ShowPage(pages_.Current() + 1); }, wxID_FORWARD);
  Bind(
      wxEVT_BUTTON, [this](wxCommandEvent&) { Discard(); }, wxID_CLOSE);
  Bind(wxEVT_CLOSE_WINDOW, [this](wxCloseEvent&) { Discard(); });
}

ThreadMessageBox::~ThreadMessageBox() {
  if (openBox == this) openBox = nullptr;
}

void ThreadMessageBox::AddMessage(std::string caption, std::string text, int kind) {
  if (pages_.Add({std::move(caption), std::move(text), kind})) UpdateControls();
}

void ThreadMessageBox::ShowPage(int index) {
  if (pages_.ShowPage(index)) UpdateControls();
}

void ThreadMessageBox::UpdateControls() {
  if (pages_.Count() == 0) return;
  const AlertPages::Message& m = pages_.CurrentMessage();
  wxString text = wxString::FromUTF8(m.text);
  text.Replace("\r\n", "\n");
  message_->ChangeValue(text);
  counter_->SetLabelText(wxString::FromUTF8(pages_.CounterText()));
  prev_->Enable(pages_.CanPrev());
  next_->Enable(pages_.CanNext());
  if (pages_.IconKind() != shownIconKind_) {
    shownIconKind_ = pages_.IconKind();
    icon_->SetBitmap(IconFor(shownIconKind_));
    controls::SetAccessibleName(icon_, IconName(shownIconKind_));
  }
  // Keep the default button usable when the one with the focus was just disabled.
  if (!prev_->IsEnabled() && FindFocus() == prev_) close_->SetFocus();
  if (!next_->IsEnabled() && FindFocus() == next_) close_->SetFocus();
  FitToMessage(m.caption, text);
  // The caption is what the message is about; a screen reader reads it as the text's name.
  controls::SetAccessibleName(message_, CaptionLabel());
}

void ThreadMessageBox::FitToMessage(const std::string& caption, const wxString& text) {
  const AlertBoxText fit = AlertBoxTextSize(
      controls::TextWidth(caption_, wxString::FromUTF8(caption)),
      controls::TextWidth(message_, text),
      message_->GetCharHeight() * (static_cast<int>(text.Freq('\n')) + 1),
      controls::FontScaled(wxSize(kLeastTextWidth, kLeastMessageHeight)),
      controls::FontScaled(wxSize(kMostTextWidth, kMostMessageHeight)),
      // A multi-line text's frame and scroll bar take room beside its lines.
      message_->GetCharWidth() * 2 + wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, message_));
  caption_->SetLabelText(wxString::FromUTF8(caption));
  caption_->Wrap(fit.width);
  message_->SetMinSize(wxSize(fit.width, fit.messageHeight));
  // The box grows to show a longer message whole; it does not shrink under the user.
  wxSize size = GetSizer()->ComputeFittingWindowSize(this);
  if (IsShown()) size.IncTo(GetSize());
  SetSize(size);
  Layout();
}

void ThreadMessageBox::Place() {
  // Over the main window while it is on the screen, else in the screen's middle.
  wxWindow* main = wxTheApp != nullptr ? wxTheApp->GetTopWindow() : nullptr;
  if (main != nullptr && main != this && main->IsShownOnScreen() &&
      !static_cast<wxTopLevelWindow*>(main)->IsIconized()) {
    const wxRect over = main->GetScreenRect();
    const wxSize size = GetSize();
    Move(over.x + (over.width - size.x) / 2, over.y + (over.height - size.y) / 2);
  } else {
    CentreOnScreen();
  }
}

void ThreadMessageBox::Discard() {
  if (openBox == this) openBox = nullptr;
  Hide();
  Destroy();
}

wxString ThreadMessageBox::CounterLabel() const { return counter_->GetLabelText(); }
wxString ThreadMessageBox::CaptionLabel() const {
  wxString caption = caption_->GetLabelText();
  caption.Replace("\n", " ");  // where a long caption wraps
  return caption;
}
wxString ThreadMessageBox::MessageText() const { return message_->GetValue(); }

}  // namespace app
