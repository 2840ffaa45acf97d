// One message box in the window's language for a driver that cannot be reached:
// it names the library and the function and gives the loader's reason. It does
// not block: the program keeps running behind it.
#pragma once

#include <QWidget>

#include "driver/driver.h"

namespace bench {

void showDriverFailure(QWidget* window, const char* function, const DriverCall& call);

}  // namespace bench
