#include "core/panic.h"

#include <gtest/gtest.h>

#include "core/numbers.h"
#include "support/panic_error.h"

namespace zobra {
namespace {

TEST(Panic, DescriptionNamesTheSourcePositionRelativeToTheRepository) {
    try {
        panic("lead notes are note names");
        FAIL();
    } catch (const testing::PanicError& e) {
        std::string text = e.what();
        EXPECT_EQ(text.rfind("panicked at tests/core/panic_test.cpp:", 0), 0u) << text;
        EXPECT_NE(text.find(":\nlead notes are note names"), std::string::npos) << text;
    }
}

TEST(Panic, DescriptionWithoutMessageEndsAtTheColumn) {
    SourcePosition where = SourcePosition::current();
    std::string text = panic_description("", where);
    EXPECT_EQ(text, "panicked at tests/core/panic_test.cpp:" + std::to_string(where.line) + ":" +
                        std::to_string(where.column));
}

TEST(Numbers, FloatConversionsSaturate) {
    EXPECT_EQ(saturate_cast<int>(std::nanf("")), 0);
    EXPECT_EQ(saturate_cast<unsigned>(-3.5f), 0u);
    EXPECT_EQ(saturate_cast<int>(3e10f), std::numeric_limits<int>::max());
    EXPECT_EQ(saturate_cast<int>(-3e10f), std::numeric_limits<int>::min());
    EXPECT_EQ(saturate_cast<int>(-2.9f), -2);
    EXPECT_EQ(saturate_cast<std::uint8_t>(255.9f), 255);
}

TEST(Numbers, EuclideanDivisionRoundsTowardMinusInfinity) {
    EXPECT_EQ(euclid_mod(-7, 3), 2);
    EXPECT_EQ(euclid_mod(7, 3), 1);
    EXPECT_EQ(floor_div(-7, 2), -4);
    EXPECT_EQ(floor_div(7, 2), 3);
    EXPECT_EQ(floor_div(-8, 2), -4);
}

}  // namespace
}  // namespace zobra
