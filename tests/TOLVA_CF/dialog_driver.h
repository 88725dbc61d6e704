#pragma once
// Plays the user of a modal dialog that the code under test opens and runs itself: the
// action runs on the dialog once it is shown, inside the dialog's own event loop. Works
// with the widget application of the test and with one the library makes for the call.
#include <QDialog>
#include <QString>

#include <functional>

namespace tolva_cf_test {

using DialogAction = std::function<void(QDialog&)>;

// Arms the action for the next dialog named `object_name` ("CChannel", "CComport").
void when_dialog_shown(const QString& object_name, DialogAction action);
// Whether the armed action ran.
bool dialog_action_ran();

// Chooses entry `index` of a list with the keyboard, as a user would (emits activated).
void choose_with_keys(QWidget& combo, int index);

}  // namespace tolva_cf_test
