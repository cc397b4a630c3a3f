// The main toolbar under a display: its tools in order with their 32-pixel images and
// texts, and enabling shown by the native tool.
#include "app/toolbar.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/frame.h>
#include <wx/toolbar.h>

#include "app/command_ids.h"
#include "controls/image_strip.h"
#include "res/strings.h"
#include "tests/app/ui_test_support.h"

namespace app {
namespace {

using ui_testing::PumpUntil;

class ToolbarTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "Toolbar", wxPoint(20, 20), wxSize(480, 200));
    toolbar_ = frame_->CreateToolBar(wxTB_HORIZONTAL | wxTB_FLAT);
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return frame_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    frame_->Destroy();
    ui_testing::PumpOnce();
  }

  // Whether GTK draws the tool at this position as usable.
  bool NativeSensitive(int pos) {
    GtkWidget* widget = toolbar_->GetHandle();
    if (GTK_IS_BIN(widget) && !GTK_IS_TOOLBAR(widget)) widget = gtk_bin_get_child(GTK_BIN(widget));
    if (!GTK_IS_TOOLBAR(widget)) return false;
    GtkToolItem* item = gtk_toolbar_get_nth_item(GTK_TOOLBAR(widget), pos);
    return item != nullptr && gtk_widget_get_sensitive(GTK_WIDGET(item));
  }

  wxFrame* frame_ = nullptr;
  wxToolBar* toolbar_ = nullptr;
};

TEST_F(ToolbarTest, HoldsItsToolsInOrderWithImagesAndTexts) {
  ASSERT_TRUE(FillMainToolBar(toolbar_));
  const struct {
    int id;  // 0: a separator
    const char* name;
    unsigned prompt;
  } expected[] = {
      {kIdMonitorNew, "New", 32774},   {0, "", 0}, {kIdMonitorStart, "Start", 32777},
      {kIdMonitorStop, "Stop", 32778}, {0, "", 0}, {kIdSettings, "Settings", 32798},
  };
  ASSERT_EQ(toolbar_->GetToolsCount(), std::size(expected));
  EXPECT_EQ(toolbar_->GetToolBitmapSize(), wxSize(32, 32));
  for (std::size_t i = 0; i < std::size(expected); ++i) {
    SCOPED_TRACE(i);
    const wxToolBarToolBase* tool = toolbar_->GetToolByPos(static_cast<int>(i));
    ASSERT_NE(tool, nullptr);
    if (expected[i].id == 0) {
      EXPECT_TRUE(tool->IsSeparator());
      continue;
    }
    EXPECT_EQ(tool->GetId(), expected[i].id);
    EXPECT_EQ(tool->GetNormalBitmap().GetSize(), wxSize(32, 32));
    EXPECT_EQ(tool->GetDisabledBitmap().GetSize(), wxSize(32, 32));
    EXPECT_EQ(tool->GetShortHelp(), expected[i].name);
    EXPECT_EQ(tool->GetLongHelp(), wxString::FromUTF8(res::FindString(expected[i].prompt)));
  }
  EXPECT_EQ(controls::MapToolImages(MainToolItems()), (std::vector<int>{0, -1, 1, 2, -1, 3}));
}

TEST_F(ToolbarTest, EnablingShowsInTheNativeTool) {
  ASSERT_TRUE(FillMainToolBar(toolbar_));
  const struct {
    int id;
    int pos;
  } tools[] = {{kIdMonitorNew, 0}, {kIdMonitorStart, 2}, {kIdMonitorStop, 3}, {kIdSettings, 5}};
  for (const auto& t : tools) {
    SCOPED_TRACE(t.id);
    EXPECT_TRUE(NativeSensitive(t.pos));
    toolbar_->EnableTool(t.id, false);
    EXPECT_FALSE(toolbar_->GetToolEnabled(t.id));
    EXPECT_FALSE(NativeSensitive(t.pos));
    toolbar_->EnableTool(t.id, true);
    EXPECT_TRUE(NativeSensitive(t.pos));
  }
}

}  // namespace
}  // namespace app
