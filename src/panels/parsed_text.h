// SPDX-License-Identifier: MIT
// Reading a number from a control's text into a variable: the lenient parse,
// rounded halves to even. A number beyond 32 bits leaves the variable as it was.
#pragma once

#include <QLineEdit>
#include <QString>
#include <cstdint>

#include "core/grid_layout.h"
#include "core/numbers.h"

namespace bench {

inline void storeParsed(int32_t& variable, const QString& text) {
    if (const auto value = parseInt32(text.toStdString())) variable = *value;
}

// A value count from its field. A count above the 64 values a grid can hold puts
// `replacement` into the field (running its change rule) and is read again from it.
inline void storeCount(int32_t& count, QLineEdit* field, const QString& replacement) {
    storeParsed(count, field->text());
    if (count > kMaxValues) {
        field->setText(replacement);
        storeParsed(count, field->text());
    }
}

}  // namespace bench
