#pragma once
// What `panic` throws inside the test programs.

#include <stdexcept>
#include <string>

namespace zobra::testing {

struct PanicError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

}  // namespace zobra::testing
