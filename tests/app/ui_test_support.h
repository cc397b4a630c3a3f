// Shared by the application's user-interface tests: the wx environment of
// tests/support/wx_test_support.h with the UI-thread receiver of the application installed,
// so work that engine threads post reaches the UI thread. Tests run on the UI thread.
#pragma once

#include "app/ui_thread.h"
#include "tests/support/wx_test_support.h"

namespace ui_testing {

inline ::testing::Environment* const kWxEnvironment =
    ::testing::AddGlobalTestEnvironment(new WxEnvironment(
        [] { app::SetUiThreadReceiver(wxTheApp); }, [] { app::SetUiThreadReceiver(nullptr); }));

}  // namespace ui_testing
