// SPDX-License-Identifier: MIT
// What the behaviour parts of the window (connection, read test, write test)
// share: the controls, the program-wide arrays, the driver, the variant's facts,
// and the ways to tell the operator that the driver could not be reached or that
// a command failed.
#pragma once

#include <functional>

#include "core/failure_text.h"
#include "core/program_state.h"
#include "core/variant.h"
#include "driver/driver.h"
#include "widgets/controls.h"

namespace bench {

// Tells the operator that `function` of the driver could not be reached.
using DriverFailureReport = std::function<void(const char* function, const DriverCall& call)>;
// Tells the operator that an explicit command failed.
using CommandFailureReport = std::function<void(const NoticeText& notice)>;

struct PanelContext {
    Controls& controls;
    ProgramState& state;
    Driver& driver;
    const VariantFacts& facts;
    DriverFailureReport reportDriverFailure;
    CommandFailureReport reportCommandFailure;

    bool is16Bit() const { return facts.addressStep == 1; }

    // A failing call on the port of the last Open, with the library's own account.
    FailedCall failedCall(Command command, const char* function, int32_t result) {
        const int32_t port = state.PortSettings[kPort];
        return {command, function,
                port,    state.PortSettings[kStation],
                result,  driver.Regwire_lastfailure(port)};
    }
};

}  // namespace bench
