// The connection row: Open copies the port, speed, parity and station settings
// into PortSettings and opens the port; Close closes it and stops reading.
#pragma once

#include "window/window_context.h"

namespace bench {

class Connection {
  public:
    explicit Connection(WindowContext& context) : ctx_(context) {}

    void Command9_Click();   // Open
    void Command10_Click();  // Close

  private:
    WindowContext& ctx_;
};

}  // namespace bench
