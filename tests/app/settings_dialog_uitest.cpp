// The Settings command under a display, with a run function in place of the modal loop.
#include "app/dialogs/settings_dialog.h"

#include <gtest/gtest.h>
#include <wx/button.h>
#include <wx/checkbox.h>
#include <wx/choice.h>
#include <wx/textctrl.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/autostart.h"
#include "app/settings/settings.h"
#include "tests/app/ui_test_support.h"
#include "tests/support/screenshot.h"
#include "tests/support/temp_dir.h"

namespace app {
namespace {

using ui_testing::PumpFor;
using ui_testing::PumpUntil;

constexpr const char* kProgram = "/opt/Lumi var/bin/lumivar";

void Check(wxCheckBox* box, bool value) {
  box->SetValue(value);
  wxCommandEvent event(wxEVT_CHECKBOX, box->GetId());
  event.SetInt(value ? 1 : 0);
  box->GetEventHandler()->ProcessEvent(event);
}

// Presses OK; the dialog's result so far (wxID_OK once accepted).
int PressOk(SettingsDialog& dialog) {
  wxCommandEvent event(wxEVT_BUTTON, wxID_OK);
  dialog.OkButton()->GetEventHandler()->ProcessEvent(event);
  return dialog.GetReturnCode();
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class SettingsDialogUiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    stored_.runApp = 1;  // a fresh install: no entry although runApp says so
    stored_.alertTemplate.title = "%MONITOR_NAME% alert";
    stored_.alertTemplate.message = "Line one\r\nLine two";
    stored_.mail = {
        2, "mail.example.org", 25, 0, "ann", "secret", "a@example.org", "b@example.org"};
    Settings::Instance().Set(stored_);
  }

  // Runs the Settings command with `run` in place of the modal loop.
  void RunCommand(std::function<int(SettingsDialog&)> run) {
    SettingsDialogRun options;
    options.autostartFolder = dir_.Path();
    options.programPath = kProgram;
    options.save = [this] {
      ++saves_;
      return saveWorks_;
    };
    options.run = std::move(run);
    options.message = [this](const wxString& text, const wxString&) { messages_.push_back(text); };
    RunSettingsDialogWith(nullptr, options);
  }

  testing_support::TempDir dir_;
  AutostartEntry entry_{dir_.Path()};
  SettingsValues stored_;
  int saves_ = 0;
  bool saveWorks_ = true;
  std::vector<wxString> messages_;
};

// Opens on the stored values and on whether the entry exists, not on runApp; Cancel after
// edits puts the values back and leaves the entry as it was.
TEST_F(SettingsDialogUiTest, OpensOnTheStoredStateAndCancelTouchesNothing) {
  for (const bool entryExists : {false, true}) {
    if (entryExists) {
      ASSERT_TRUE(entry_.Write("/old/lumivar"));
    }
    RunCommand([&](SettingsDialog& dialog) {
      EXPECT_EQ(dialog.StartOnLoginCheck()->GetValue(), entryExists);
      EXPECT_EQ(dialog.MessageCtrl()->GetValue(), "Line one\nLine two");
      EXPECT_EQ(dialog.ModeChoice()->GetStringSelection(), "Weekly");
      EXPECT_FALSE(dialog.UserCtrl()->IsEnabled() || dialog.PasswordCtrl()->IsEnabled());
      Check(dialog.AuthCheck(), true);
      EXPECT_TRUE(dialog.UserCtrl()->IsEnabled() && dialog.PasswordCtrl()->IsEnabled());
      const char* folder = std::getenv("LUMIVAR_SCREENSHOT_DIR");
      if (entryExists && folder != nullptr) {
        dialog.Show();
        PumpUntil([&] { return dialog.IsShownOnScreen(); });
        PumpFor(std::chrono::milliseconds(300));
        testing_support::SaveWindowScreenshot(&dialog,
                                              std::string(folder) + "/settings_dialog.png");
      }
      Check(dialog.StartOnLoginCheck(), !entryExists);
      dialog.TitleCtrl()->ChangeValue("Edited");
      return wxID_CANCEL;
    });
    EXPECT_EQ(Settings::Instance().Get(), stored_);
    EXPECT_EQ(entry_.Exists(), entryExists);
  }
  EXPECT_EQ(ReadFile(entry_.Path()), AutostartEntryText("/old/lumivar"));
  EXPECT_EQ(saves_, 0);
}

// OK with an invalid port is refused with a message and assigns nothing; with a valid one
// it stores every edit (the message with CRLF line ends), writes or removes the entry and
// saves.
TEST_F(SettingsDialogUiTest, OkStoresOnlyWithAValidPortAndFollowsTheBox) {
  RunCommand([this](SettingsDialog& dialog) {
    dialog.Show();
    Check(dialog.StartOnLoginCheck(), true);
    dialog.TitleCtrl()->ChangeValue("New title");
    dialog.MessageCtrl()->ChangeValue("a\nb\n");
    dialog.ServerCtrl()->ChangeValue("smtp.example.org");
    Check(dialog.AuthCheck(), true);
    dialog.UserCtrl()->ChangeValue("bob");
    dialog.PasswordCtrl()->ChangeValue("pw");
    dialog.SenderCtrl()->ChangeValue("c@example.org");
    dialog.SendToCtrl()->ChangeValue("d@example.org");
    dialog.ModeChoice()->SetSelection(0);
    for (const char* port : {"0", "65536", "", "99999999"}) {
      dialog.PortCtrl()->ChangeValue(port);
      EXPECT_NE(PressOk(dialog), wxID_OK) << port;
      EXPECT_TRUE(dialog.IsShown()) << port;
      EXPECT_EQ(Settings::Instance().Get(), stored_) << port;
    }
    EXPECT_EQ(messages_.size(), 4u);
    dialog.PortCtrl()->ChangeValue(" 65535 ");
    return PressOk(dialog);
  });
  SettingsValues expected = stored_;
  expected.alertTemplate = {"New title", "a\r\nb\r\n"};
  expected.mail = {0, "smtp.example.org", 65535, 1, "bob", "pw", "c@example.org", "d@example.org"};
  EXPECT_EQ(Settings::Instance().Get(), expected);
  EXPECT_EQ(ReadFile(entry_.Path()), AutostartEntryText(kProgram));
  EXPECT_EQ(saves_, 1);

  // A failed save is reported; the values stay assigned for the save at exit.
  saveWorks_ = false;
  messages_.clear();
  RunCommand([](SettingsDialog& dialog) {
    Check(dialog.StartOnLoginCheck(), false);
    return PressOk(dialog);
  });
  expected.runApp = 0;
  EXPECT_EQ(Settings::Instance().Get(), expected);
  EXPECT_FALSE(entry_.Exists());
  EXPECT_EQ(saves_, 2);
  EXPECT_EQ(messages_, std::vector<wxString>{"The settings could not be saved."});
}

}  // namespace
}  // namespace app
