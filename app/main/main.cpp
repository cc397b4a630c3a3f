// The program's entry point.
#include "app/orbanel_app.h"

wxIMPLEMENT_APP(app::OrbanelApp);
