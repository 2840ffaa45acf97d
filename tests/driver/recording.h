// SPDX-License-Identifier: MIT
// Access from tests to the recording stand-in of libRegwire.so: the calls it
// logged, and the values its read functions hand out.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace bench::testing {

class Recording {
  public:
    // Points the recording library's log at a fresh file of this process.
    Recording();
    ~Recording();

    // The calls logged since the last take, one line each ("OpenPort_Modbus 6 3 2").
    std::vector<std::string> takeCalls();

    // Values the read functions copy into the buffer (element k from values[k]).
    void setReadValues(const std::vector<int32_t>& values);

    // The result every function returns from now on, and the text the library
    // gives as the detail of a failure. Both go back to 0 and "" when the test ends.
    void setResult(int32_t result);
    void setFailureDetail(const std::string& text);

  private:
    std::string path_;
};

}  // namespace bench::testing
