// Reading a number from a control's text into a variable: the lenient parse,
// rounded halves to even. A number beyond 32 bits leaves the variable as it was.
#pragma once

#include <QString>
#include <cstdint>

#include "core/numbers.h"

namespace bench {

inline void storeParsed(int32_t& variable, const QString& text) {
    if (const auto value = parseInt32(text.toStdString())) variable = *value;
}

}  // namespace bench
