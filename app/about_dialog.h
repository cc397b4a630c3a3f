// The About box: the program's icon, name, version and maker, and OK. UI thread only.
#pragma once

#include <wx/dialog.h>

namespace app {

class CAboutDlg : public wxDialog {
 public:
  explicit CAboutDlg(wxWindow* parent = nullptr);
};

}  // namespace app
