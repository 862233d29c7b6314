// The GUI toolkit (GTK 3), loaded on first use and started once in the
// window layer's display connection. The input method's contexts and the
// dialogs' choosers both run on it; each resolves its own entry points
// through the same loaded copy.
#pragma once

#include <string>

namespace kiv::gui::toolkit {

// The soname both users load (the toolkit is opened with global symbols,
// so their own tables find the same copy).
constexpr const char* SONAME = "libgtk-3.so.0";

// Loads the toolkit and starts it once on the open display, keeping the
// process's own locale and handing the display's event handler back to the
// window layer. False with the reason in `why` when it cannot, on this and
// every later call.
bool start(std::string& why);

}  // namespace kiv::gui::toolkit
