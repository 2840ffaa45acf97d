// SPDX-License-Identifier: MIT
#include "panels/entry_fields.h"

#include "core/entry_rules.h"

namespace bench {
namespace {

// Setting the replacement runs the rule once more; the replacement is in range.
void enforce(QLineEdit* field, EntryField rule) {
    if (const auto replacement = entryCorrection(rule, field->text().toStdString())) {
        field->setText(QString::fromStdString(*replacement));
    }
}

}  // namespace

void EntryFields::Text1_Change() {
    enforce(ctx_.controls.Text1, EntryField::ReadCount);
}
void EntryFields::Text2_Change() {
    enforce(ctx_.controls.Text2, EntryField::ReadStart);
}
void EntryFields::Text3_Change() {
    enforce(ctx_.controls.Text3, EntryField::WriteStart);
}
void EntryFields::Text4_Change() {
    enforce(ctx_.controls.Text4, EntryField::WriteCount);
}

}  // namespace bench
