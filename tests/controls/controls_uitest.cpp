// The coloured controls under a display: cell images stay on their rows, fitted columns
// follow a resize, the attribute table lays out its columns, a coloured text paints its
// own background, and accessible names reach ATK.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/app.h>
#include <wx/button.h>
#include <wx/dcmemory.h>
#include <wx/evtloop.h>
#include <wx/frame.h>
#include <wx/init.h>
#include <wx/settings.h>
#include <wx/sizer.h>
#include <wx/stattext.h>
#include <wx/textctrl.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "controls/accessible_name.h"
#include "controls/attribute_list.h"
#include "controls/color_background_panel.h"
#include "controls/color_list.h"
#include "controls/color_static.h"
#include "controls/value_text.h"
#include "tests/support/screenshot.h"
#include "tests/support/wx_test_support.h"

namespace controls {
namespace {

::testing::Environment* const kWxEnvironment =
    ::testing::AddGlobalTestEnvironment(new ui_testing::WxEnvironment);

using ui_testing::PumpUntil;

wxBitmap Swatch(const wxColour& colour) {
  wxBitmap bitmap(16, 16, 24);
  wxMemoryDC dc(bitmap);
  dc.SetBackground(wxBrush(colour));
  dc.Clear();
  dc.SelectObject(wxNullBitmap);
  return bitmap;
}

wxColour CentreOf(const wxBitmap& bitmap) {
  const wxImage image = bitmap.ConvertToImage();
  return wxColour(image.GetRed(8, 8), image.GetGreen(8, 8), image.GetBlue(8, 8));
}

class ControlsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    frame_ = new wxFrame(nullptr, wxID_ANY, "controls", wxDefaultPosition, wxSize(640, 480));
    frame_->Show();
    ASSERT_TRUE(PumpUntil([this] { return frame_->IsShownOnScreen(); }));
  }
  void TearDown() override {
    frame_->Destroy();
    EXPECT_TRUE(PumpUntil([] { return wxTopLevelWindows.IsEmpty(); }));
  }

  wxFrame* frame_ = nullptr;
};

// Each step changes a 4-row, 2-column list; the grid is the expected image of every cell
// afterwards ('.' none, 'r' red, 'g' green).
TEST_F(ControlsTest, CellImagesBelongToTheirRows) {
  auto* list = new ColorList(frame_, wxID_ANY, "Monitors", wxDefaultPosition, wxSize(300, 200));
  list->AddColumn("Name");
  list->AddColumn("State");
  for (const char* name : {"one", "two", "three", "four"}) list->AddRow({name, "-"});
  list->RegisterImage(1, Swatch(*wxRED));
  list->RegisterImage(2, Swatch(*wxGREEN));

  struct Step {
    const char* what;
    std::function<void()> apply;
    std::vector<std::string> cells;  // one string per row, one char per column
  } const steps[] = {
      {"set",
       [&] {
         list->SetCellBitmap(0, 1, 1);
         list->SetCellBitmap(1, 0, 2);
         list->SetCellBitmap(2, 1, 2);
         list->SetCellBitmap(3, 1, 1);
       },
       {".r", "g.", ".g", ".r"}},
      {"delete row 1", [&] { list->DeleteItem(1); }, {".r", ".g", ".r"}},
      {"id 0 clears", [&] { list->SetCellBitmap(1, 1, 0); }, {".r", "..", ".r"}},
      {"unknown id clears", [&] { list->SetCellBitmap(0, 1, 77); }, {"..", "..", ".r"}},
      {"beyond the count", [&] { list->SetCellBitmap(3, 0, 1); }, {"..", "..", ".r"}},
      {"replace", [&] { list->SetCellBitmap(2, 1, 2); }, {"..", "..", ".g"}},
  };
  for (const auto& step : steps) {
    step.apply();
    ASSERT_EQ(list->GetItemCount(), static_cast<int>(step.cells.size())) << step.what;
    for (unsigned row = 0; row < step.cells.size(); ++row) {
      for (unsigned column = 0; column < 2; ++column) {
        const char expected = step.cells[row][column];
        EXPECT_EQ(list->HasCellBitmap(row, column), expected != '.')
            << step.what << " row " << row << " column " << column;
        if (expected == '.') continue;
        EXPECT_EQ(CentreOf(list->GetCellBitmap(row, column)), expected == 'r' ? *wxRED : *wxGREEN)
            << step.what << " row " << row << " column " << column;
      }
    }
  }
  // The texts moved with the images.
  EXPECT_EQ(list->GetCellText(1, 0), "three");
  EXPECT_EQ(list->GetCellText(2, 0), "four");
}

TEST_F(ControlsTest, FittedColumnsShareTheWidthAfterEachResize) {
  auto* list = new ColorList(frame_, wxID_ANY, "Report");
  list->SetFitColumns(true);
  for (const char* title : {"Time", "Value", "Text"}) list->AddColumn(title, 50);
  list->AddRow({"12:00", "3", "fine"});
  const auto fitted = [&] {
    const FitWidth fit = FitColumnWidth(list->GetClientSize().GetWidth(),
                                        wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, list), 3);
    // GTK gives the last column whatever width is left over.
    return list->GetColumn(0)->GetWidth() == fit.width &&
           list->GetColumn(1)->GetWidth() == fit.width &&
           list->GetColumn(2)->GetWidth() >= fit.width;
  };
  for (const int width : {415, 600, 250}) {
    list->SetSize(wxSize(width, 200));
    EXPECT_TRUE(PumpUntil([&] { return list->GetSize().GetWidth() == width && fitted(); }))
        << width << ": " << list->GetColumn(0)->GetWidth() << " " << list->GetColumn(1)->GetWidth()
        << " " << list->GetColumn(2)->GetWidth();
  }
}

TEST_F(ControlsTest, AttributeTableLaysOutItsColumnsAndValues) {
  auto* list = new AttributeList(frame_, wxID_ANY, "Statistics");
  list->Init({"Response time", "Availability"});
  list->SetIntValue(0, 250, "ms");
  list->SetValueText(1, 12.5, "%");
  list->SetCellText(1, AttributeList::kThresholdColumn, "90.00 %");
  list->SetIntValue(5, 1, "ms");  // ignored
  EXPECT_EQ(list->GetCellText(0, AttributeList::kValueColumn), "250 ms");
  EXPECT_EQ(list->GetCellText(1, AttributeList::kValueColumn), "12.50 %");
  list->SetValueText(1, -1.0, "%");
  EXPECT_EQ(list->GetCellText(1, AttributeList::kValueColumn), "-");

  list->SetSize(wxSize(500, 120));
  const auto laidOut = [&] {
    const AttributeColumnWidths widths = AttributeListColumnWidths(
        list->GetClientSize().GetWidth(), wxSystemSettings::GetMetric(wxSYS_VSCROLL_X, list));
    return list->GetSize().GetWidth() == 500 &&
           list->GetColumn(0)->GetWidth() == widths.attribute &&
           list->GetColumn(1)->GetWidth() == 80 && list->GetColumn(2)->GetWidth() >= 80;
  };
  EXPECT_TRUE(PumpUntil(laidOut)) << list->GetColumn(0)->GetWidth();
}

// Renders the text into a bitmap of its size; the background fills the corners and the
// indent, and the text colour shows somewhere right of the indent.
TEST_F(ControlsTest, ColoredTextPaintsItsOwnBackground) {
  struct Case {
    const char* label;
    ColorStaticStyle style;
  } const cases[] = {
      {"Title",
       {wxColour(200, 30, 30), *wxWHITE, 20, 700, wxALIGN_LEFT | wxALIGN_CENTRE_VERTICAL, 12}},
      {"Status", {wxColour(30, 120, 30), *wxBLACK, 12, 400, wxALIGN_LEFT, 12}},
      {"99.5 %", {wxColour(240, 240, 200), *wxBLUE, 16, 700, wxALIGN_RIGHT, 0}},
  };
  for (const auto& c : cases) {
    auto* text = new ColorStatic(frame_, wxID_ANY, "placeholder", c.style, wxDefaultPosition,
                                 wxSize(200, 30));
    text->SetLabel(c.label);  // a later label always shows
    EXPECT_EQ(text->GetLabel(), c.label);
    wxBitmap bitmap(200, 30, 24);
    {
      wxMemoryDC dc(bitmap);
      text->Render(dc);
    }
    const wxImage image = bitmap.ConvertToImage();
    const auto at = [&](int x, int y) {
      return wxColour(image.GetRed(x, y), image.GetGreen(x, y), image.GetBlue(x, y));
    };
    for (const wxPoint corner :
         {wxPoint(0, 0), wxPoint(199, 0), wxPoint(0, 29), wxPoint(199, 29)}) {
      EXPECT_EQ(at(corner.x, corner.y), c.style.back) << c.label;
    }
    bool textSeen = false;
    for (int y = 0; y < 30; ++y) {
      for (int x = 0; x < 200; ++x) {
        if (x < c.style.leftIndent) {
          EXPECT_EQ(at(x, y), c.style.back) << c.label << " indent at " << x << "," << y;
        } else if (at(x, y) != c.style.back) {
          textSeen = true;
        }
      }
    }
    EXPECT_TRUE(textSeen) << c.label;
    // The font fits the cell height.
    wxMemoryDC measure(bitmap);
    measure.SetFont(text->TextFont());
    EXPECT_LE(measure.GetCharHeight(), c.style.height) << c.label;
    EXPECT_GE(measure.GetCharHeight(), c.style.height - 4) << c.label;
  }
}

std::string AtkName(GtkWidget* widget) {
  const char* name = atk_object_get_name(gtk_widget_get_accessible(widget));
  return name ? name : "";
}

TEST_F(ControlsTest, AccessibleNamesReachAtk) {
  auto* button = new wxButton(frame_, wxID_ANY, "Go");
  SetAccessibleName(button, "Start monitor");
  auto* label = new wxStaticText(frame_, wxID_ANY, "Server name:");
  auto* entry = new wxTextCtrl(frame_, wxID_ANY);
  SetAccessibleName(entry, "Server name", label);
  auto* notes =
      new wxTextCtrl(frame_, wxID_ANY, "", wxDefaultPosition, wxDefaultSize, wxTE_MULTILINE);
  SetAccessibleName(notes, "Notes");
  auto* text = new ColorStatic(frame_, wxID_ANY, "Lumivar");
  auto* list = new ColorList(frame_, wxID_ANY, "Monitors");
  auto* panel = new ColorBackgroundPanel(frame_, wxID_ANY, *wxGREEN, "Availability");

  struct Case {
    const char* what;
    GtkWidget* widget;
    const char* name;
  } const cases[] = {
      {"button", button->GetHandle(), "Start monitor"},
      {"entry", entry->GetHandle(), "Server name"},
      {"multi-line text", gtk_bin_get_child(GTK_BIN(notes->GetHandle())), "Notes"},
      {"coloured text", text->GetHandle(), "Lumivar"},
      {"list", list->GtkGetTreeView(), "Monitors"},
      {"panel", panel->GetHandle(), "Availability"},
  };
  for (const auto& c : cases) EXPECT_EQ(AtkName(c.widget), c.name) << c.what;

  text->SetLabel("Server 1 (Payroll)");
  EXPECT_EQ(AtkName(text->GetHandle()), "Server 1 (Payroll)");

  AtkRelationSet* relations =
      atk_object_ref_relation_set(gtk_widget_get_accessible(entry->GetHandle()));
  AtkRelation* labelledBy =
      atk_relation_set_get_relation_by_type(relations, ATK_RELATION_LABELLED_BY);
  ASSERT_NE(labelledBy, nullptr);
  GPtrArray* targets = atk_relation_get_target(labelledBy);
  ASSERT_EQ(targets->len, 1u);
  EXPECT_EQ(g_ptr_array_index(targets, 0), gtk_widget_get_accessible(label->GetHandle()));
  g_object_unref(relations);
}

std::string CellText(AtkObject* cell) {
  if (const char* own = atk_object_get_name(cell); own && *own) return own;
  std::string text;
  for (int i = 0; i < atk_object_get_n_accessible_children(cell); ++i) {
    AtkObject* child = atk_object_ref_accessible_child(cell, i);
    if (const char* name = atk_object_get_name(child)) text += name;
    g_object_unref(child);
  }
  return text;
}

// The controls together in a shown frame: rows are never lower than a cell image and the
// cells' texts reach ATK. Saved as
// a PNG when LUMIVAR_SCREENSHOT_DIR is set.
TEST_F(ControlsTest, ShownTogether) {
  auto* sizer = new wxBoxSizer(wxVERTICAL);
  sizer->Add(new ColorStatic(frame_, wxID_ANY, "Payroll server (payroll-dsn)",
                             {wxColour(214, 226, 242), *wxBLACK, 20, 700,
                              wxALIGN_LEFT | wxALIGN_CENTRE_VERTICAL, 12},
                             wxDefaultPosition, wxSize(-1, 24)),
             0, wxEXPAND);
  sizer->Add(
      new ColorStatic(frame_, wxID_ANY, "Server is down",
                      {*wxRED, *wxWHITE, 12, 400, wxALIGN_LEFT | wxALIGN_CENTRE_VERTICAL, 12},
                      wxDefaultPosition, wxSize(-1, 18)),
      0, wxEXPAND);
  auto* list = new ColorList(frame_, wxID_ANY, "Monitors");
  list->SetFitColumns(true);
  list->AddColumn("Monitor");
  list->AddColumn("State");
  list->AddColumn("Last poll");
  list->RegisterImage(1, Swatch(wxColour(40, 160, 40)));
  list->RegisterImage(2, Swatch(wxColour(200, 30, 30)));
  list->AddRow({"Payroll", "up", "12:00:05"});
  list->AddRow({"Orders", "down", "12:00:07"});
  list->AddRow({"Stock", "off", "-"});
  list->SetCellBitmap(0, 1, 1);
  list->SetCellBitmap(1, 1, 2);
  list->SetCellBitmap(1, 0, 2);
  sizer->Add(list, 1, wxEXPAND | wxALL, 6);
  // The same rows in a font whose lines are far lower than an image.
  auto* small = new ColorList(frame_, wxID_ANY, "Small", wxDefaultPosition, wxSize(-1, 90));
  small->SetFont(wxFont(wxFontInfo(wxSize(0, 7))));
  small->AddColumn("Monitor");
  for (const char* name : {"Payroll", "Orders", "Stock"}) small->AddRow({name});
  small->SetCellBitmap(1, 0, Swatch(*wxRED));
  sizer->Add(small, 0, wxEXPAND | wxALL, 6);
  auto* table = new AttributeList(frame_, wxID_ANY, "Statistics");
  table->Init({"Response time", "Availability"});
  table->SetIntValue(0, 250, "ms");
  table->SetCellText(0, AttributeList::kThresholdColumn, "1000 ms");
  table->SetValueText(1, 99.5, "%");
  table->SetCellText(1, AttributeList::kThresholdColumn, "-");
  sizer->Add(table, 0, wxEXPAND | wxALL, 6);
  auto* panel = new ColorBackgroundPanel(frame_, wxID_ANY, wxColour(40, 160, 40), "Availability",
                                         wxDefaultPosition, wxSize(-1, 40));
  new ColorStatic(panel, wxID_ANY, "99.50 %",
                  {wxColour(40, 160, 40), *wxWHITE, 16, 700, wxALIGN_LEFT, 4}, wxPoint(6, 6),
                  wxSize(120, 24));
  sizer->Add(panel, 0, wxEXPAND | wxALL, 6);
  frame_->SetSizer(sizer);
  frame_->Layout();
  ASSERT_TRUE(PumpUntil([&] {
    return list->IsShownOnScreen() &&
           list->GetColumn(0)->GetWidth() == list->GetColumn(1)->GetWidth();
  }));
  for (unsigned row = 0; row < 3; ++row) {
    EXPECT_GE(list->GetItemRect(list->RowToItem(row)).height, ColorList::kMinRowHeight) << row;
    EXPECT_GE(small->GetItemRect(small->RowToItem(row)).height, ColorList::kMinRowHeight) << row;
  }
  // A screen reader finds the cells' texts, with or without an image. An icon-and-text cell
  // is a container of an image cell and a text cell; the text cell carries the name.
  AtkObject* cells = gtk_widget_get_accessible(list->GtkGetTreeView());
  ASSERT_TRUE(ATK_IS_TABLE(cells));
  for (const auto& [row, column, text] : {std::tuple{0, 0, "Payroll"}, std::tuple{1, 0, "Orders"},
                                          std::tuple{1, 1, "down"}, std::tuple{2, 2, "-"}}) {
    AtkObject* cell = atk_table_ref_at(ATK_TABLE(cells), row, column);
    ASSERT_NE(cell, nullptr);
    EXPECT_EQ(CellText(cell), text) << row << "," << column;
    g_object_unref(cell);
  }
  const char* dir = std::getenv("LUMIVAR_SCREENSHOT_DIR");
  if (dir == nullptr) return;
  // Painted once the title's own colour is on the screen.
  const auto painted = [&] {
    const wxImage shot = testing_support::GrabWindow(frame_);
    return shot.IsOk() && wxColour(shot.GetRed(2, 2), shot.GetGreen(2, 2), shot.GetBlue(2, 2)) ==
                              wxColour(214, 226, 242);
  };
  EXPECT_TRUE(PumpUntil(painted));
  EXPECT_TRUE(testing_support::SaveWindowScreenshot(frame_, std::string(dir) + "/controls.png"));
}

}  // namespace
}  // namespace controls
