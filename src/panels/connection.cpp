// SPDX-License-Identifier: MIT
#include "panels/connection.h"

#include "core/numbers.h"
#include "panels/parsed_text.h"

namespace bench {
void Connection::Command9_Click() {
    Controls& c = ctx_.controls;
    auto& settings = ctx_.state.PortSettings;
    storeParsed(settings[kPort], c.Combo1->currentText());
    storeParsed(settings[kSpeed], c.Combo3->currentText());
    for (int i = 0; i < 3; ++i) {
        if (c.Option2[static_cast<std::size_t>(i)]->isChecked()) settings[kParity] = i;
    }
    storeParsed(settings[kStation], c.Combo2->currentText());
    // A driver that cannot be reached leaves the last result; Open says nothing.
    const DriverCall call =
        ctx_.driver.OpenPort_Modbus(settings[kPort], settings[kSpeed], settings[kParity]);
    if (!call.reached) return;
    settings[kLastOpenCloseResult] = call.result;
    if (isFailure(call.result)) {
        ctx_.reportCommandFailure(
            failureNotice(ctx_.failedCall(Command::Open, "OpenPort_Modbus", call.result)));
    }
}

void Connection::Command10_Click() {
    auto& settings = ctx_.state.PortSettings;
    const DriverCall call = ctx_.driver.ClosePort_Modbus(settings[kPort]);
    if (!call.reached) {
        ctx_.reportDriverFailure("ClosePort_Modbus", call);
        return;
    }
    settings[kLastOpenCloseResult] = call.result;
    ctx_.controls.Timer1->stop();
    if (closeFailureIsWorthANotice(call.result)) {
        ctx_.reportCommandFailure(
            failureNotice(ctx_.failedCall(Command::Close, "ClosePort_Modbus", call.result)));
    }
}

}  // namespace bench
