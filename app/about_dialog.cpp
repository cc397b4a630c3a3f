#include "app/about_dialog.h"

#include <wx/button.h>
#include <wx/sizer.h>
#include <wx/statbmp.h>
#include <wx/stattext.h>

#include "app/app_icon.h"
#include "controls/accessible_name.h"

namespace app {

CAboutDlg::CAboutDlg(wxWindow* parent)
    : wxDialog(parent, wxID_ANY, "About Lumivar", wxDefaultPosition, wxDefaultSize,
               wxDEFAULT_DIALOG_STYLE) {
  auto* icon = new wxStaticBitmap(this, wxID_ANY, AppIconBitmap(48));
  controls::SetAccessibleName(icon, "Lumivar");
  auto* text = new wxStaticText(this, wxID_ANY,
                                "Lumivar\nVersion 1.5\n\nZephrane Software\n"
                                "Watches databases through ODBC.");
  auto* ok = new wxButton(this, wxID_OK, "OK");
  ok->SetDefault();

  auto* top = new wxBoxSizer(wxHORIZONTAL);
  top->Add(icon, 0, wxALIGN_TOP | wxRIGHT, FromDIP(16));
  top->Add(text, 1, wxALIGN_CENTER_VERTICAL);
  auto* all = new wxBoxSizer(wxVERTICAL);
  all->Add(top, 1, wxEXPAND | wxALL, FromDIP(16));
  all->Add(ok, 0, wxALIGN_RIGHT | wxLEFT | wxRIGHT | wxBOTTOM, FromDIP(12));
  SetSizerAndFit(all);
  CentreOnParent();
}

}  // namespace app
