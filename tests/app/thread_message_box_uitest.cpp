// The alert box under a display: messages handed over from several threads all arrive,
// once and in order; the counter and Prev/Next follow the pages; Close discards the box
// and the next message opens a fresh one; a message repeating the last page or one waiting
// for a modal dialog is told once; the messages not yet shown are taken at exit; the box
// opens centred on the main window, sized to a long caption (wrapped) and its message, and
// grows for a longer message.
#include "app/thread_message_box.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/frame.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>
#include <wx/timer.h>

#include <map>
#include <thread>
#include <vector>

#include "controls/font_scale.h"
#include "tests/app/ui_test_support.h"
#include "tests/support/screenshot.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

void Click(wxButton* button) {
  ASSERT_TRUE(button->IsEnabled());
  wxCommandEvent event(wxEVT_BUTTON, button->GetId());
  event.SetEventObject(button);
  button->GetEventHandler()->ProcessEvent(event);
}

class ThreadMessageBoxTest : public ::testing::Test {
 protected:
  void TearDown() override {
    ThreadMessageBox::CloseCurrent();
    ThreadMessageBox::TakeUntold();
    ThreadMessageBox::ResumeShowing();
    ui_testing::PumpOnce();
  }
};

// The pages of the open box, as lines; empty when none is open.
std::vector<std::string> ShownPages() {
  std::vector<std::string> pages;
  ThreadMessageBox* box = ThreadMessageBox::Current();
  if (box == nullptr) return pages;
  const int current = box->Pages().Current();
  for (int i = 0; i < box->Pages().Count(); ++i) {
    box->ShowPage(i);
    const AlertPages::Message& m = box->Pages().CurrentMessage();
    pages.push_back(m.caption + "|" + m.text + "|" + std::to_string(m.kind));
  }
  box->ShowPage(current);
  return pages;
}

TEST_F(ThreadMessageBoxTest, MessagesFromSeveralThreadsAllArriveOnceInOrder) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 50;
  std::vector<std::thread> workers;
  for (int t = 0; t < kThreads; ++t) {
    workers.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i)
        ThreadMessageBox::ShowAsync("thread " + std::to_string(t), std::to_string(i),
                                    i % 2 == 0 ? kAlertKindError : kAlertKindInformation);
    });
  }
  for (auto& w : workers) w.join();
  // The callers returned before anything was shown.
  EXPECT_EQ(ThreadMessageBox::Current(), nullptr);

  ASSERT_TRUE(PumpUntil([] {
    return ThreadMessageBox::Current() != nullptr &&
           ThreadMessageBox::Current()->Pages().Count() >= kThreads * kPerThread;
  }));
  PumpFor(std::chrono::milliseconds(100));
  ThreadMessageBox* box = ThreadMessageBox::Current();
  ASSERT_EQ(box->Pages().Count(), kThreads * kPerThread);

  // Walk back through every page: each thread's messages appear once, in their order.
  std::map<std::string, std::vector<int>> seen;
  box->ShowPage(0);
  for (int i = 0; i < box->Pages().Count(); ++i) {
    box->ShowPage(i);
    seen[box->CaptionLabel().utf8_string()].push_back(std::stoi(box->MessageText().utf8_string()));
  }
  ASSERT_EQ(seen.size(), static_cast<size_t>(kThreads));
  for (const auto& [caption, numbers] : seen) {
    ASSERT_EQ(numbers.size(), static_cast<size_t>(kPerThread)) << caption;
    for (int i = 0; i < kPerThread; ++i) EXPECT_EQ(numbers[i], i) << caption;
  }
}

TEST_F(ThreadMessageBoxTest, CounterPrevAndNextAtTheBounds) {
  for (int i = 1; i <= 3; ++i)
    ThreadMessageBox::ShowAsync("Alert " + std::to_string(i), "Line one\r\nline two", 1);
  ASSERT_TRUE(PumpUntil([] {
    return ThreadMessageBox::Current() != nullptr &&
           ThreadMessageBox::Current()->Pages().Count() == 3;
  }));
  ThreadMessageBox* box = ThreadMessageBox::Current();
  EXPECT_TRUE(box->IsShown());
  EXPECT_EQ(box->GetTitle(), "Lumivar - Alert");
  EXPECT_EQ(box->CounterLabel(), "3/3");
  EXPECT_EQ(box->CaptionLabel(), "Alert 3");
  EXPECT_EQ(box->MessageText(), "Line one\nline two");
  EXPECT_FALSE(box->NextButton()->IsEnabled());
  EXPECT_TRUE(box->PrevButton()->IsEnabled());

  Click(box->PrevButton());
  EXPECT_EQ(box->CounterLabel(), "2/3");
  EXPECT_EQ(box->CaptionLabel(), "Alert 2");
  EXPECT_TRUE(box->NextButton()->IsEnabled());
  Click(box->PrevButton());
  EXPECT_EQ(box->CounterLabel(), "1/3");
  EXPECT_FALSE(box->PrevButton()->IsEnabled());
  // Out of range pages change nothing.
  box->ShowPage(-1);
  box->ShowPage(3);
  EXPECT_EQ(box->CounterLabel(), "1/3");

  // A new message while the box is open jumps to it.
  ThreadMessageBox::ShowAsync("Alert 4", "four", 0);
  ASSERT_TRUE(PumpUntil([box] { return box->Pages().Count() == 4; }));
  EXPECT_EQ(ThreadMessageBox::Current(), box);
  EXPECT_EQ(box->CounterLabel(), "4/4");
  EXPECT_FALSE(box->NextButton()->IsEnabled());

  // Close discards everything; the next message opens a fresh box.
  wxWeakRef<ThreadMessageBox> closed(box);
  Click(box->CloseButton());
  EXPECT_EQ(ThreadMessageBox::Current(), nullptr);
  ThreadMessageBox::ShowAsync("Alert 5", "five", 1);
  ASSERT_TRUE(PumpUntil([] { return ThreadMessageBox::Current() != nullptr; }));
  EXPECT_TRUE(PumpUntil([&closed] { return !closed; }));
  EXPECT_EQ(ThreadMessageBox::Current()->CounterLabel(), "1/1");
  EXPECT_EQ(ThreadMessageBox::Current()->CaptionLabel(), "Alert 5");
  EXPECT_FALSE(ThreadMessageBox::Current()->PrevButton()->IsEnabled());
  EXPECT_FALSE(ThreadMessageBox::Current()->NextButton()->IsEnabled());
}

// A message that arrives while a question is up waits for its answer: a box opened beside a
// modal dialog could be neither clicked nor closed, and might cover the question.
TEST_F(ThreadMessageBoxTest, AMessageDuringAModalQuestionWaitsForItsAnswer) {
  ThreadMessageBox::WatchModalDialogs();
  wxDialog question(nullptr, wxID_ANY, "Lumivar");
  bool noBoxWhileAsked = false;
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    ThreadMessageBox::ShowAsync("Lumivar", "The configuration is saved again.", 1);
    PumpFor(std::chrono::milliseconds(200));
    noBoxWhileAsked = ThreadMessageBox::Current() == nullptr;
    question.EndModal(wxID_YES);
  });
  timer.StartOnce(100);
  EXPECT_EQ(question.ShowModal(), wxID_YES);
  EXPECT_TRUE(noBoxWhileAsked);
  ASSERT_TRUE(PumpUntil([] { return ThreadMessageBox::Current() != nullptr; }));
  EXPECT_EQ(ThreadMessageBox::Current()->MessageText(), "The configuration is saved again.");
  ThreadMessageBox::CloseCurrent();
}

// One failure told twice (two attempts of a worker, say) shows once: a message identical to
// the box's last page, or to one waiting for a modal dialog, is not added again. Another
// message, or the same one once the box was closed, is shown as usual.
TEST_F(ThreadMessageBoxTest, AMessageIdenticalToTheLastShownOrToOneWaitingIsToldOnce) {
  ThreadMessageBox::WatchModalDialogs();
  const AlertPages::Message a{"Lumivar", "The configuration could not be saved.", 0};
  const AlertPages::Message b{"Lumivar", "The log could not be cleared.", 0};
  const AlertPages::Message aKind{"Lumivar", a.text, 1};
  const AlertPages::Message close{};  // Close clicked
  const struct {
    const char* name;
    std::vector<AlertPages::Message> steps;
    bool behindModal;  // handed over while a modal dialog is up
    std::vector<AlertPages::Message> pages;
  } cases[] = {
      {"identical while open", {a, a}, false, {a}},
      {"identical after Close", {a, close, a}, false, {a}},
      {"different", {a, b}, false, {a, b}},
      {"another kind", {a, aKind}, false, {a, aKind}},
      {"identical to an earlier page only", {a, b, a}, false, {a, b, a}},
      {"identical waiting behind a modal dialog", {a, a}, true, {a}},
      {"identical to one waiting, another between", {a, b, a}, true, {a, b}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const auto handOver = [&c] {
      for (const AlertPages::Message& m : c.steps) {
        if (m.text.empty()) {
          ASSERT_TRUE(PumpUntil([] { return ThreadMessageBox::Current() != nullptr; }));
          Click(ThreadMessageBox::Current()->CloseButton());
        } else {
          ThreadMessageBox::ShowAsync(m.caption, m.text, m.kind);
        }
      }
    };
    if (c.behindModal) {
      wxDialog question(nullptr, wxID_ANY, "Lumivar");
      wxTimer timer;
      timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
        handOver();
        PumpFor(std::chrono::milliseconds(200));
        EXPECT_EQ(ThreadMessageBox::Current(), nullptr);
        question.EndModal(wxID_YES);
      });
      timer.StartOnce(50);
      question.ShowModal();
    } else {
      handOver();
    }
    ASSERT_TRUE(PumpUntil([] { return ThreadMessageBox::Current() != nullptr; }));
    PumpFor(std::chrono::milliseconds(100));
    std::vector<std::string> expected;
    for (const AlertPages::Message& m : c.pages)
      expected.push_back(m.caption + "|" + m.text + "|" + std::to_string(m.kind));
    EXPECT_EQ(ShownPages(), expected);
    ThreadMessageBox::CloseCurrent();
  }
}

// At exit, what was handed over and not yet shown (waiting for the close's question, or
// still on its way to the UI thread) is taken instead, each once; a message shown already
// is not. From then on nothing reaches a box: later messages are kept for the next take.
TEST_F(ThreadMessageBoxTest, TheMessagesNotYetShownAreTakenAndLaterOnesKept) {
  ThreadMessageBox::WatchModalDialogs();
  const auto lines = [](const std::vector<AlertPages::Message>& messages) {
    std::vector<std::string> out;
    for (const AlertPages::Message& m : messages) out.push_back(AlertMessageLine(m));
    return out;
  };
  ThreadMessageBox::ShowAsync("Lumivar", "shown", 0);
  ASSERT_TRUE(PumpUntil([] { return ThreadMessageBox::Current() != nullptr; }));
  ThreadMessageBox::CloseCurrent();

  wxDialog question(nullptr, wxID_ANY, "Lumivar");
  std::vector<std::string> taken;
  wxTimer timer;
  timer.Bind(wxEVT_TIMER, [&](wxTimerEvent&) {
    ThreadMessageBox::ShowAsync("Lumivar", "waiting", 0);
    PumpFor(std::chrono::milliseconds(200));
    std::thread([] { ThreadMessageBox::ShowAsync("Lumivar", "posted", 0); }).join();
    taken = lines(ThreadMessageBox::TakeUntold());
    question.EndModal(wxID_YES);
  });
  timer.StartOnce(50);
  question.ShowModal();
  EXPECT_EQ(taken, (std::vector<std::string>{"waiting", "posted"}));

  std::thread([] { ThreadMessageBox::ShowAsync("Alert", "later", 1); }).join();
  PumpFor(std::chrono::milliseconds(300));
  EXPECT_EQ(ThreadMessageBox::Current(), nullptr);
  EXPECT_EQ(lines(ThreadMessageBox::TakeUntold()), std::vector<std::string>{"Alert: later"});
  EXPECT_TRUE(ThreadMessageBox::TakeUntold().empty());
}

TEST_F(ThreadMessageBoxTest, ClosingTheWindowDiscardsTheBox) {
  ThreadMessageBox::ShowAsync("Alert", "text", 0);
  ASSERT_TRUE(PumpUntil([] { return ThreadMessageBox::Current() != nullptr; }));
  wxWeakRef<ThreadMessageBox> box(ThreadMessageBox::Current());
  box->Close();
  EXPECT_EQ(ThreadMessageBox::Current(), nullptr);
  EXPECT_TRUE(PumpUntil([&box] { return !box; }));
}

}  // namespace
}  // namespace app

namespace app {
namespace {

TEST(AlertBoxTextSizeTest, FollowsTheWiderTextWithinItsBounds) {
  const wxSize least(380, 120);
  const wxSize most(640, 360);
  const struct {
    int caption, message, lines;
    AlertBoxText fit;
  } cases[] = {
      {100, 100, 40, {380, 120}},   // short texts keep the least size
      {500, 100, 40, {500, 120}},   // the caption widens the box
      {100, 470, 40, {500, 120}},   // so does the message with its frame
      {900, 100, 40, {640, 120}},   // a wider caption wraps
      {100, 100, 300, {380, 330}},  // many lines make the message higher
      {100, 100, 900, {380, 360}},  // ... up to the most, then it scrolls
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AlertBoxTextSize(c.caption, c.message, c.lines, least, most, 30), c.fit)
        << c.caption << " " << c.message << " " << c.lines;
  }
}

TEST_F(ThreadMessageBoxTest, OpensOverTheMainWindowSizedToItsCaptionAndGrowsForLongerMessages) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Lumivar", wxPoint(200, 150), wxSize(800, 600));
  wxTheApp->SetTopWindow(frame);
  frame->Show();
  ASSERT_TRUE(PumpUntil([frame] { return frame->IsShownOnScreen(); }));
  const std::string caption =
      "07 Dec 2026 08:45 PM ERROR Test Query Value On Sales Reporting Database (sales-db-01)";
  ThreadMessageBox::ShowAsync(caption, "Value: 12\r\nThreshold: 10", kAlertKindError);
  ASSERT_TRUE(PumpUntil([] {
    return ThreadMessageBox::Current() != nullptr && ThreadMessageBox::Current()->IsShownOnScreen();
  }));
  ThreadMessageBox* box = ThreadMessageBox::Current();
  PumpFor(std::chrono::milliseconds(100));

  const wxRect over = frame->GetScreenRect();
  const wxRect rect = box->GetScreenRect();
  EXPECT_NEAR(rect.x + rect.width / 2, over.x + over.width / 2, 2);
  EXPECT_NEAR(rect.y + rect.height / 2, over.y + over.height / 2, 2);

  // The caption shows whole: on more than one line, each within the caption's width.
  EXPECT_EQ(box->CaptionLabel().utf8_string(), caption);
  wxStaticText* shown = box->Caption();
  EXPECT_GT(shown->GetLabelText().Freq('\n'), 0);
  EXPECT_LE(controls::TextWidth(shown, shown->GetLabelText()), shown->GetSize().x);
  EXPECT_LE(shown->GetBestSize().y, shown->GetSize().y);
  testing_support::ScreenshotIfAsked(box, "alert_box");

  // A message of many lines arrives and shows: the box grows; Prev does not shrink it, and
  // Next shows it again in the same size.
  const wxSize first = box->GetSize();
  std::string longer = "Error description:";
  for (int i = 0; i < 12; ++i) longer += "\r\nline " + std::to_string(i);
  ThreadMessageBox::ShowAsync("Short", longer, kAlertKindError);
  ASSERT_TRUE(PumpUntil([box] { return box->Pages().Count() == 2; }));
  PumpFor(std::chrono::milliseconds(100));
  const wxSize second = box->GetSize();
  EXPECT_GT(second.y, first.y);
  Click(box->PrevButton());
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(box->GetSize(), second);
  Click(box->NextButton());
  Click(box->PrevButton());
  PumpFor(std::chrono::milliseconds(100));
  EXPECT_EQ(box->GetSize(), second);
  frame->Destroy();
}

}  // namespace
}  // namespace app
