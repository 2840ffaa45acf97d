// SPDX-License-Identifier: MIT
// The programs' icons, drawn in code at 16, 24, 32 and 48 pixels: one for each
// program, so that a menu tells them apart.
#pragma once

#include <QIcon>
#include <QImage>

#include "core/variant.h"

namespace bench {

inline constexpr int kIconSizes[] = {16, 24, 32, 48};

QImage programIconImage(Variant variant, int size);
QIcon programIcon(Variant variant);

}  // namespace bench
