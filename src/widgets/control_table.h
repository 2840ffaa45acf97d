// SPDX-License-Identifier: MIT
// Every control of the window, as data: name, kind, containing frame, position and
// size in twips, text at start, tab index and look. The window is built from this
// table alone. Indexed groups are named with their index after an underscore:
// Label2(9) is "Label2_9", Option2(0) is "Option2_0".
#pragma once

#include <string>
#include <vector>

#include "core/variant.h"

namespace bench {

enum class ControlKind { Label, Frame, Combo, Option, Button, Text, Grid };

enum class Look {
    Plain,       // the system's default colours and the default font
    Clock,       // green background, red text, Arial 10.5 pt bold italic
    RedCaption,  // group frame whose caption is red
    RedText,     // red text
    BlueText,    // blue text
    ExitFont,    // 宋体 10.5 pt
    Editor,      // pink background (the in-cell editor)
    Grid,        // 宋体 9 pt
};

struct ControlRow {
    const char* name;
    ControlKind kind;
    const char* frame;             // containing frame, or nullptr for the window itself
    int left, top, width, height;  // twips, from the frame's or window's top-left
    std::string text;
    int tab;
    Look look;
};

std::vector<ControlRow> controlTable(Variant variant);

}  // namespace bench
