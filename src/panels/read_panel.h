// SPDX-License-Identifier: MIT
// The read test: Start reading lays out the read grid and switches the read timer
// on; every tick reads the block of registers with one driver call and shows it.
#pragma once

#include <cstdint>
#include <optional>

#include "panels/panel_context.h"

namespace bench {

class ReadPanel {
  public:
    explicit ReadPanel(PanelContext& context) : ctx_(context) {}

    void Command3_Click();  // Start reading
    void Timer1_Timer();    // one poll

    int32_t ReadCount() const { return readCount_; }
    int32_t ReadStart() const { return readStart_; }

  private:
    PanelContext& ctx_;
    int32_t readCount_ = 0;
    int32_t readStart_ = 0;
    std::optional<GoodRead> lastGoodRead_;  // none before the first
};

}  // namespace bench
