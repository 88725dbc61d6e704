#pragma once
// Closes the library's dialog once it is shown, for unattended runs (the tests and the demo
// run on the offscreen platform, where nobody can press a button). The dialog is found by
// its object name. A refusal of OK is reported and the dialog then cancelled.
#include <string>

namespace sim_config {

enum class CloseAction { none, accept, cancel };

// Arranges that the next widget application made in this process closes the dialog
// `object_name` with `action`; refusal texts go to `refusals` (appended, one per line).
void close_dialog_when_shown(const std::string& object_name, CloseAction action, std::string* refusals);

}  // namespace sim_config
