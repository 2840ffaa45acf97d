// What the behaviour parts of the window (connection, read test, write test)
// share: the controls, the program-wide arrays, the driver, the variant's facts,
// and the one way to tell the operator that the driver could not be reached.
#pragma once

#include <functional>

#include "core/program_state.h"
#include "core/variant.h"
#include "driver/driver.h"
#include "widgets/controls.h"

namespace bench {

// Tells the operator that `function` of the driver could not be reached.
using DriverFailureReport = std::function<void(const char* function, const DriverCall& call)>;

struct PanelContext {
    Controls& controls;
    ProgramState& state;
    Driver& driver;
    const VariantFacts& facts;
    DriverFailureReport reportDriverFailure;

    bool is16Bit() const { return facts.addressStep == 1; }
};

}  // namespace bench
