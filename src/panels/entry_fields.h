// SPDX-License-Identifier: MIT
// The range rules of the four entry fields, run on every change of their text,
// whatever made the change.
#pragma once

#include "panels/panel_context.h"

namespace bench {

class EntryFields {
  public:
    explicit EntryFields(PanelContext& context) : ctx_(context) {}

    void Text1_Change();  // read count
    void Text2_Change();  // read start address
    void Text3_Change();  // write start address
    void Text4_Change();  // write count

  private:
    PanelContext& ctx_;
};

}  // namespace bench
