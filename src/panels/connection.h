// SPDX-License-Identifier: MIT
// The connection row: Open copies the port, speed, parity and station settings
// into PortSettings and opens the port; Close closes it and stops reading.
#pragma once

#include "panels/panel_context.h"

namespace bench {

class Connection {
  public:
    explicit Connection(PanelContext& context) : ctx_(context) {}

    void Command9_Click();   // Open
    void Command10_Click();  // Close

  private:
    PanelContext& ctx_;
};

}  // namespace bench
