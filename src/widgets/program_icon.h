// The program icon, drawn in code at 16, 24, 32 and 48 pixels.
#pragma once

#include <QIcon>
#include <QImage>

namespace bench {

inline constexpr int kIconSizes[] = {16, 24, 32, 48};

QImage programIconImage(int size);
QIcon programIcon();

}  // namespace bench
