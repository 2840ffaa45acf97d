// SPDX-License-Identifier: MIT
// Focus that enters a group of option buttons by Tab, by Shift+Tab, or because the
// focused control was hidden, lands on the selected button, as in the toolkit the
// window was designed for. Qt makes the button that last had the focus the group's
// one tab stop; this makes it the selected one instead, whenever the selection
// changes and whenever the focus leaves the group.
#pragma once

#include <QRadioButton>

namespace bench {

// Joins `button` to the rule; the group is the option buttons of its parent.
void keepTabStopOnSelected(QRadioButton* button);

}  // namespace bench
