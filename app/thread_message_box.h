// The alert window "Lumivar - Alert": it collects every alert message that arrives while
// it is open and lets the user page through them with Prev and Next; Close discards them
// all. Only one box is open at a time; a message arriving after Close opens a new one. It
// opens centred on the main window when that is shown, sized to its caption and message,
// and grows when Prev or Next shows a longer one.
// ShowAsync may be called from any thread and returns at once; everything else runs on
// the UI thread.
#pragma once

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
  };

  // Appends a message and makes it the current page.
  void Add(Message message);
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

class ThreadMessageBox : public wxDialog {
 public:
  // Hands the message to the UI thread, which adds it to the open box or opens a box for
  // it. Any thread; never blocks on the user.
  static void ShowAsync(std::string caption, std::string text, int kind);

  // UI thread: the open box, or nullptr.
  static ThreadMessageBox* Current();
  // UI thread: adds the message to the open box or opens a new one with it; while a modal
  // dialog is up and no box is open, the message waits for the last one to end (nullptr).
  static ThreadMessageBox* AddOrCreate(std::string caption, std::string text, int kind);
  // UI thread: starts following the modal dialogs (before the first one opens).
  static void WatchModalDialogs();
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
