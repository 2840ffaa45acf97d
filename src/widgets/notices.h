// SPDX-License-Identifier: MIT
// The window's notices, message boxes in the window's language that never stand
// in the way: each is non-modal, so Exit and the close control end the program
// while it is shown, and a new notice replaces one still open instead of stacking.
#pragma once

#include <QWidget>

#include "core/failure_text.h"
#include "driver/driver.h"

namespace bench {

// A driver that cannot be reached: names the library and the function and gives
// the loader's reason.
void showDriverFailure(QWidget* window, const char* function, const DriverCall& call);

// An explicit command (Open, Close, Write) whose driver call failed.
void showCommandFailure(QWidget* window, const NoticeText& notice);

}  // namespace bench
