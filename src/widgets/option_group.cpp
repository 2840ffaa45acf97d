// SPDX-License-Identifier: MIT
#include "widgets/option_group.h"

#include <QEvent>
#include <algorithm>

namespace bench {
namespace {

// Makes the selected button of `button`'s group its only tab stop.
void moveTabStopToSelected(const QRadioButton* button) {
    const QList<QRadioButton*> group =
        button->parentWidget()->findChildren<QRadioButton*>(Qt::FindDirectChildrenOnly);
    const auto selected =
        std::find_if(group.begin(), group.end(), [](auto* b) { return b->isChecked(); });
    if (selected == group.end()) return;
    for (QRadioButton* b : group) {
        const Qt::FocusPolicy policy = b->focusPolicy();
        b->setFocusPolicy(b == *selected ? Qt::FocusPolicy(policy | Qt::TabFocus)
                                         : Qt::FocusPolicy(policy & ~Qt::TabFocus));
    }
}

class FocusLeaves : public QObject {
  public:
    using QObject::QObject;

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::FocusOut) {
            moveTabStopToSelected(static_cast<QRadioButton*>(watched));
        }
        return false;
    }
};

}  // namespace

void keepTabStopOnSelected(QRadioButton* button) {
    QObject::connect(button, &QRadioButton::toggled, button, [button](bool on) {
        if (on) moveTabStopToSelected(button);
    });
    button->installEventFilter(new FocusLeaves(button));
}

}  // namespace bench
