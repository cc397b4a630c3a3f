// Menus under a display: which items the builder gives an image, the swap between normal
// and disabled image when a menu opens, and an accessibility client's click on an item of a
// closed menu. No menu is ever shown.
#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <wx/frame.h>
#include <wx/menu.h>

#include <cstring>
#include <memory>

#include "app/command_ids.h"
#include "app/main_menu.h"
#include "app/menu_accessibility.h"
#include "app/menu_images.h"
#include "tests/app/ui_test_support.h"

namespace app {
namespace {

bool SamePixels(const wxBitmap& a, const wxBitmap& b) {
  if (!a.IsOk() || !b.IsOk() || a.GetSize() != b.GetSize()) return false;
  const wxImage x = a.ConvertToImage();
  const wxImage y = b.ConvertToImage();
  const std::size_t pixels = static_cast<std::size_t>(x.GetWidth()) * x.GetHeight();
  if (std::memcmp(x.GetData(), y.GetData(), 3 * pixels) != 0) return false;
  if (x.HasAlpha() != y.HasAlpha()) return false;
  return !x.HasAlpha() || std::memcmp(x.GetAlpha(), y.GetAlpha(), pixels) == 0;
}

// What GTK draws for an item: the pixels of the image widget of the toolkit's menu item.
bool ToolkitShows(const wxMenuItem* item, const wxBitmap& expected) {
  GtkWidget* native = item->GetMenuItem();
  if (!native || !GTK_IS_IMAGE_MENU_ITEM(native)) return false;
  G_GNUC_BEGIN_IGNORE_DEPRECATIONS
  GtkWidget* image = gtk_image_menu_item_get_image(GTK_IMAGE_MENU_ITEM(native));
  G_GNUC_END_IGNORE_DEPRECATIONS
  if (!image || !GTK_IS_IMAGE(image) ||
      gtk_image_get_storage_type(GTK_IMAGE(image)) != GTK_IMAGE_PIXBUF) {
    return false;
  }
  GdkPixbuf* shown = gtk_image_get_pixbuf(GTK_IMAGE(image));
  GdkPixbuf* wanted = expected.GetPixbuf();
  const int width = gdk_pixbuf_get_width(shown);
  const int height = gdk_pixbuf_get_height(shown);
  const int channels = gdk_pixbuf_get_n_channels(shown);
  if (width != gdk_pixbuf_get_width(wanted) || height != gdk_pixbuf_get_height(wanted) ||
      channels != gdk_pixbuf_get_n_channels(wanted)) {
    return false;
  }
  for (int y = 0; y < height; ++y) {
    const guchar* a = gdk_pixbuf_get_pixels(shown) + y * gdk_pixbuf_get_rowstride(shown);
    const guchar* b = gdk_pixbuf_get_pixels(wanted) + y * gdk_pixbuf_get_rowstride(wanted);
    if (std::memcmp(a, b, static_cast<std::size_t>(width) * channels) != 0) return false;
  }
  return true;
}

TEST(MenuImagesUiTest, OnlyListedNormalItemsCarryAnImage) {
  const MenuImages& images = MenuImages::Main();
  ASSERT_TRUE(images.Has(kIdMonitorNew));
  wxMenu menu;
  MenuBuilder builder(images);
  const struct {
    int id;
    wxItemKind kind;
    bool image;
  } items[] = {
      {kIdMonitorNew, wxITEM_NORMAL, true},
      {kIdMonitorStart, wxITEM_NORMAL, true},
      {kIdOnlineHelp, wxITEM_NORMAL, false},  // not in the list
      {kIdViewToolbar, wxITEM_CHECK, false},
      {kIdSettings, wxITEM_CHECK, false},  // listed, but a check item
      {kIdMonitorDelete, wxITEM_RADIO, false},
      {kIdMonitorStop, wxITEM_NORMAL, true},
  };
  for (const auto& item : items) {
    builder.Append(&menu, item.id, "Item", "", item.kind);
    menu.AppendSeparator();
  }
  for (const auto& item : items) {
    SCOPED_TRACE(item.id);
    const wxMenuItem* made = menu.FindItem(item.id);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(made->GetBitmap().IsOk(), item.image);
    if (item.image) {
      EXPECT_TRUE(SamePixels(made->GetBitmap(), images.Image(item.id, true)));
    }
  }
  for (const wxMenuItem* made : menu.GetMenuItems()) {
    if (made->IsSeparator()) {
      EXPECT_FALSE(made->GetBitmap().IsOk());
    }
  }
}

TEST(MenuImagesUiTest, TheMenuBarsImagedCommandsShowTheirImages) {
  std::unique_ptr<wxMenuBar> bar(CreateMainMenuBar());
  gboolean shown = FALSE;
  g_object_get(gtk_settings_get_default(), "gtk-menu-images", &shown, nullptr);
  EXPECT_TRUE(shown);
  const struct {
    int id;
    bool image;
  } items[] = {
      {kIdMonitorNew, true},     {kIdMonitorStart, true}, {kIdMonitorStop, true},
      {kIdMonitorDelete, true},  {kIdSettings, true},     {kIdViewToolbar, false},
      {kIdViewStatusBar, false}, {kIdOnlineHelp, false},  {kIdAppAbout, false},
  };
  for (const auto& item : items) {
    const wxMenuItem* made = bar->FindItem(item.id);
    ASSERT_NE(made, nullptr) << item.id;
    EXPECT_EQ(made->GetBitmap().IsOk(), item.image) << item.id;
  }
}

// The toolkit's own open signal, emitted on a menu that stays hidden: the frame's update
// handlers decide the state first, the image follows, and the frame still hears of the open.
TEST(MenuImagesUiTest, TheToolkitsOpenSignalShowsTheImageOfTheUpdatedState) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Menus");
  frame->SetMenuBar(CreateMainMenuBar());
  bool frameHeard = false;
  frame->Bind(wxEVT_MENU_OPEN, [&frameHeard](wxMenuEvent& event) {
    frameHeard = true;
    event.Skip();
  });
  bool startEnabled = true;
  frame->Bind(
      wxEVT_UPDATE_UI, [&startEnabled](wxUpdateUIEvent& event) { event.Enable(startEnabled); },
      kIdMonitorStart);
  frame->Show();
  ui_testing::PumpOnce();
  wxMenu* monitor = frame->GetMenuBar()->GetMenu(0);
  const MenuImages& images = MenuImages::Main();
  for (bool enabled : {false, true, false}) {
    SCOPED_TRACE(enabled);
    startEnabled = enabled;
    frameHeard = false;
    g_signal_emit_by_name(monitor->m_menu, "map");
    EXPECT_EQ(monitor->IsEnabled(kIdMonitorStart), enabled);
    EXPECT_TRUE(SamePixels(monitor->FindItem(kIdMonitorStart)->GetBitmap(),
                           images.Image(kIdMonitorStart, enabled)));
    EXPECT_TRUE(SamePixels(monitor->FindItem(kIdMonitorNew)->GetBitmap(),
                           images.Image(kIdMonitorNew, true)));
    EXPECT_TRUE(
        ToolkitShows(monitor->FindItem(kIdMonitorStart), images.Image(kIdMonitorStart, enabled)));
    EXPECT_TRUE(ToolkitShows(monitor->FindItem(kIdMonitorNew), images.Image(kIdMonitorNew, true)));
    EXPECT_TRUE(frameHeard);
  }
  EXPECT_FALSE(
      SamePixels(images.Image(kIdMonitorStart, true), images.Image(kIdMonitorStart, false)));
  frame->Destroy();
  ui_testing::PumpOnce();
}

// The tree's context menu, never popped up: Start, Stop and Delete disabled show their
// disabled images on the toolkit's items, New its normal one.
TEST(MenuImagesUiTest, TheContextMenusDisabledItemsShowDisabledImagesInTheToolkit) {
  std::unique_ptr<wxMenu> menu(CreateMonitorMenu());
  const MenuImages& images = MenuImages::Main();
  for (int id : {kIdMonitorStart, kIdMonitorStop, kIdMonitorDelete}) menu->Enable(id, false);
  g_signal_emit_by_name(menu->m_menu, "map");
  for (int id : {kIdMonitorStart, kIdMonitorStop, kIdMonitorDelete}) {
    EXPECT_TRUE(ToolkitShows(menu->FindItem(id), images.Image(id, false))) << id;
    EXPECT_FALSE(ToolkitShows(menu->FindItem(id), images.Image(id, true))) << id;
  }
  EXPECT_TRUE(ToolkitShows(menu->FindItem(kIdMonitorNew), images.Image(kIdMonitorNew, true)));
  menu->Enable(kIdMonitorStop, true);
  g_signal_emit_by_name(menu->m_menu, "map");
  EXPECT_TRUE(ToolkitShows(menu->FindItem(kIdMonitorStop), images.Image(kIdMonitorStop, true)));
}

// A client's click on a disabled item of a closed menu is refused by the click itself: the
// toolkit's activation would still flip a check item's mark. Asked in the program's own
// process, since the accessibility bridge answers a client's click as done before running
// it, and offers a disabled item no action to click in the first place.
TEST(MenuImagesUiTest, AClickOnADisabledItemOfAClosedMenuIsRefused) {
  auto* frame = new wxFrame(nullptr, wxID_ANY, "Menus");
  frame->SetMenuBar(CreateMainMenuBar());
  RouteClosedMenuItemClicks();
  int commands = 0;
  frame->Bind(wxEVT_MENU, [&commands](wxCommandEvent&) { ++commands; });
  frame->Show();
  ui_testing::PumpOnce();
  wxMenuBar* bar = frame->GetMenuBar();
  for (const int id : {kIdMonitorDelete, kIdViewToolbar}) {
    SCOPED_TRACE(id);
    bar->Enable(id, false);
    GtkWidget* item = bar->FindItem(id)->GetMenuItem();
    const auto marked = [item] {
      return GTK_IS_CHECK_MENU_ITEM(item) &&
             gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(item));
    };
    const bool before = marked();
    AtkObject* accessible = gtk_widget_get_accessible(item);
    ASSERT_TRUE(ATK_IS_ACTION(accessible));
    AtkAction* click = ATK_ACTION(accessible);
    EXPECT_FALSE(atk_action_do_action(click, 0));
    ui_testing::PumpOnce();
    EXPECT_EQ(marked(), before);
  }
  EXPECT_EQ(commands, 0);
  frame->Destroy();
  ui_testing::PumpOnce();
}

}  // namespace
}  // namespace app
