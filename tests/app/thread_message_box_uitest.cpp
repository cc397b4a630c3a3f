// The alert box under a display: messages handed over from several threads all arrive,
// once and in order; the counter and Prev/Next follow the pages; Close discards the box
// and the next message opens a fresh one.
#include "app/thread_message_box.h"

#include <gtest/gtest.h>
#include <wx/button.h>

#include <map>
#include <thread>
#include <vector>

#include "tests/app/ui_test_support.h"

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
    ui_testing::PumpOnce();
  }
};

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
