// Shared by the application's user-interface tests: the wx environment of
// tests/support/wx_test_support.h with the UI-thread receiver of the application installed,
// so work that engine threads post reaches the UI thread. Tests run on the UI thread.
#pragma once

#include <cstdlib>

#include "app/ui_thread.h"
#include "tests/support/wx_test_support.h"

namespace ui_testing {

// The web engine's compositing needs a GPU that Xvfb lacks; the welcome views (and the
// programs the tests start) draw without it.
inline const int kNoWebCompositing = setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 1);

inline ::testing::Environment* const kWxEnvironment =
    ::testing::AddGlobalTestEnvironment(new WxEnvironment(
        [] { app::SetUiThreadReceiver(wxTheApp); }, [] { app::SetUiThreadReceiver(nullptr); }));

}  // namespace ui_testing
