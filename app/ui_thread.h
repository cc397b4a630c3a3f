// Hands work from any thread to the UI thread. The application sets the receiver at
// start-up and clears it at exit; work posted while there is none is dropped, because
// then no window is left to show it. Every function here may be called from any thread.
#pragma once

#include <functional>

class wxEvtHandler;

namespace app {

// The handler whose event loop runs posted work (the application object), or nullptr.
void SetUiThreadReceiver(wxEvtHandler* receiver);

// Queues fn to run on the UI thread in posting order; false when there is no receiver.
bool PostToUiThread(std::function<void()> fn);

}  // namespace app
