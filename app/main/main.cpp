// The program's entry point. A start that finds another instance running ends silently
// with status 0.
#include <wx/app.h>

#include "app/orbanel_app.h"

wxIMPLEMENT_APP_NO_MAIN(app::OrbanelApp);

int main(int argc, char** argv) {
  const int status = wxEntry(argc, argv);
  return app::OrbanelApp::EndedAsSecondInstance() ? 0 : status;
}
