// The alert window "Lumivar - Alert": it collects every alert message that arrives while
// it is open and lets the user page through them with Prev and Next; Close discards them
// all. Only one box is open at a time; a message arriving after Close opens a new one. It
// opens centred on the main window when that is shown, sized to its caption and message,
// and grows when Prev or Next shows a longer one. A message identical to the box's last
// page, or to one waiting for a modal dialog to end, is not added again.
// Once the program exits, messages are no longer shown: the ones not yet shown, and those
// arriving later, are taken instead (TakeUntold), so the exit can tell them otherwise.
// ShowAsync, StopShowing and TakeUntold may be called from any thread and return at once;
// everything else runs on the UI thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include <wx/dialog.h>
#include <wx/gdicmn.h>

class wxButton;
class wxStaticBitmap;
class wxStaticText;
class wxTextCtrl;

namespace app {

// Message kinds: 0 error (stop icon), 1 information; any other kind leaves the icon as it
// was.
inline constexpr int kAlertKindError = 0;
inline constexpr int kAlertKindInformation = 1;

// The pages of the box, without any window.
class AlertPages {
 public:
  struct Message {
    std::string caption;
    std::string text;
    int kind = kAlertKindInformation;
    bool operator==(const Message&) const = default;
  };

  // Appends a message and makes it the current page; false (nothing changes) when it is
  // identical to the last page.
  bool Add(Message message);
  // Makes page index current; false (nothing changes) when there is no such page.
  bool ShowPage(int index);

  int Count() const { return static_cast<int>(messages_.size()); }
  int Current() const { return current_; }
  bool CanPrev() const { return current_ > 0; }
  bool CanNext() const { return current_ + 1 < Count(); }
  // "i/n" for the current page; "" when empty.
  std::string CounterText() const;
  // The current page; only when Count() > 0.
  const Message& CurrentMessage() const { return messages_[current_]; }
  // The kind whose icon shows: the last error or information kind shown.
  int IconKind() const { return iconKind_; }

 private:
  std::vector<Message> messages_;
  int current_ = 0;
  int iconKind_ = kAlertKindInformation;
};

// The box's text column: as wide as the caption or the message's widest line (plus the
// message's frame) within least.x..most.x, the caption wrapping beyond; the message as high
// as its lines (plus its frame) within least.y..most.y, scrolling beyond.
struct AlertBoxText {
  int width = 0;
  int messageHeight = 0;
  bool operator==(const AlertBoxText&) const = default;
};
AlertBoxText AlertBoxTextSize(int captionWidth, int messageWidth, int messageHeight, wxSize least,
                              wxSize most, int messageFrame);

// A message as one line of standard error or of a log: the caption (unless it is only the
// program's name) and ": ", then the text's non-empty lines joined by blanks.
std::string AlertMessageLine(const AlertPages::Message& message);

class ThreadMessageBox : public wxDialog {
 public:
  // Hands the message to the UI thread, which adds it to the open box or opens a box for
  // it; while a modal dialog is up and no box is open, it waits for the last one to end.
  // Once messages are no longer shown, it is kept for TakeUntold. Any thread; never blocks
  // on the user.
  static void ShowAsync(std::string caption, std::string text, int kind);

  // From now on no message reaches a box: what was handed over and not yet shown (still on
  // its way to the UI thread, or waiting for a modal dialog), and whatever comes later, is
  // kept for TakeUntold. Any thread.
  static void StopShowing();
  // Stops showing, and returns the messages kept in the order they were handed over; each
  // is returned once. Any thread.
  static std::vector<AlertPages::Message> TakeUntold();
  // UI thread: shows messages again, the kept ones included (a test goes on after taking
  // them).
  static void ResumeShowing();

  // UI thread: the open box, or nullptr.
  static ThreadMessageBox* Current();
  // UI thread: starts following the modal dialogs (before the first one opens).
  static void WatchModalDialogs();
  // UI thread: shows the messages that waited for the modal dialogs to end, unless one is
  // up again.
  static void ShowWaiting();
  // UI thread: closes the open box, if any (the main window does so when it closes).
  static void CloseCurrent();

  void AddMessage(std::string caption, std::string text, int kind);
  void ShowPage(int index);

  const AlertPages& Pages() const { return pages_; }
  wxButton* PrevButton() const { return prev_; }
  wxButton* NextButton() const { return next_; }
  wxButton* CloseButton() const { return close_; }
  wxString CounterLabel() const;
  // The caption shown, lines joined as they were before wrapping.
  wxString CaptionLabel() const;
  wxStaticText* Caption() const { return caption_; }
  wxString MessageText() const;

  // The box never keeps the program running after the main window has closed.
  bool ShouldPreventAppExit() const override { return false; }

 private:
  ThreadMessageBox();
  ~ThreadMessageBox() override;

  // Shows the message handed over as id, unless it was taken, messages are no longer shown,
  // or it must wait for a modal dialog.
  static void Deliver(std::uint64_t id);

  void UpdateControls();
  // Sizes the box to the caption and the message shown (growing, never shrinking).
  void FitToMessage(const std::string& caption, const wxString& text);
  // Centres the box on the main window while that is on the screen, else on the screen.
  void Place();
  void Discard();

  AlertPages pages_;
  int shownIconKind_ = -1;
  wxStaticBitmap* icon_ = nullptr;
  wxStaticText* caption_ = nullptr;
  wxTextCtrl* message_ = nullptr;
  wxStaticText* counter_ = nullptr;
  wxButton* prev_ = nullptr;
  wxButton* next_ = nullptr;
  wxButton* close_ = nullptr;
};

}  // namespace app
