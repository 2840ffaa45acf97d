// SPDX-License-Identifier: MIT
// The write test: the write grid follows Text4 and Text3 once a second, a click on
// a value cell opens the in-cell editor Text5, Enter stores the typed number in
// WriteValues, and Write sends all values with one driver call.
#pragma once

#include <cstdint>

#include "panels/panel_context.h"

namespace bench {

inline constexpr int16_t kEnterKey = 13;

class WritePanel {
  public:
    explicit WritePanel(PanelContext& context) : ctx_(context) {}

    void Timer2_Timer();                    // rebuild the write grid
    void MSFlexGrid2_Click();               // open the editor over a value cell
    void MSFlexGrid2_Scroll();              // keep the open editor over its cell
    void Text5_KeyPress(int16_t keyAscii);  // Enter commits the editor
    void Command2_Click();                  // Write

    int32_t WriteCount() const { return writeCount_; }
    int32_t WriteStart() const { return writeStart_; }
    int32_t EditRow() const { return editRow_; }
    int32_t EditCol() const { return editCol_; }

  private:
    void placeEditor();

    PanelContext& ctx_;
    int32_t writeCount_ = 0;
    int32_t writeStart_ = 0;
    int32_t editRow_ = 0;
    int32_t editCol_ = 0;
};

}  // namespace bench
