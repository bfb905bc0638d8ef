// Test entry: internal errors become `PanicError` exceptions, so that a test
// can expect a panic instead of the process ending.

#include <gtest/gtest.h>

#include "core/panic.h"
#include "support/panic_error.h"

namespace {
void throw_panic(const std::string& description) { throw zobra::testing::PanicError(description); }
}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    zobra::set_panic_handler(&throw_panic);
    return RUN_ALL_TESTS();
}
