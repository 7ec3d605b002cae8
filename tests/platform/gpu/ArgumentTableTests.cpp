#include "GPUTestSupport.hpp"
#include "gpu/MTLFunctionConstantValues.hpp"
#include "gpu/cpu/ArgumentTable.hpp"

#include <array>
#include <gtest/gtest.h>
#include <utility>

using namespace velmora;

namespace {

std::vector<uint8_t> bytesAt(const cpu::ArgumentTable& table, uint64_t index) {
    const auto span = table.buffer(index);
    return {span.begin(), span.end()};
}

// A dispatch copies its table and moves it into its command: the copy holds every
// binding of the original and nothing the table it replaces had, and keeps its
// bytes when the original is bound again.
TEST(ArgumentTable, CopiesHoldExactlyTheOriginalsBindings) {
    const auto a = test::makeTexture(2, 2), b = test::makeTexture(3, 3);
    const std::array<uint8_t, 3> first{1, 2, 3}, second{9, 8, 7};
    cpu::ArgumentTable original;
    original.setTexture(a, 3);
    original.setBytes(first.data(), first.size(), 7);

    cpu::ArgumentTable assigned;
    assigned.setTexture(b, 20);
    assigned.setBytes(second.data(), second.size(), 30);
    assigned.setTexture(b, 3);
    assigned = original;
    const cpu::ArgumentTable constructed(original);
    original.setBytes(second.data(), second.size(), 7);
    original.setTexture(b, 3);

    cpu::ArgumentTable moveAssigned;
    moveAssigned.setTexture(b, 20);
    moveAssigned.setBytes(second.data(), second.size(), 30);
    cpu::ArgumentTable source(constructed);
    moveAssigned = std::move(source);
    cpu::ArgumentTable moved(std::move(moveAssigned));
    for (const cpu::ArgumentTable* copy :
         {&std::as_const(assigned), &constructed, &std::as_const(moved)}) {
        EXPECT_EQ(copy->textureObject(3), a);
        EXPECT_EQ(copy->textureObject(20), nullptr);
        EXPECT_FALSE(copy->buffers()[30].isBound());
        EXPECT_EQ(bytesAt(*copy, 7), (std::vector<uint8_t>{1, 2, 3}));
    }
    EXPECT_EQ(bytesAt(original, 7), (std::vector<uint8_t>{9, 8, 7}));
}

// Function constants are shared between copies until one of them is changed.
TEST(FunctionConstantValues, ACopyChangesAlone) {
    MTLFunctionConstantValues original;
    const int32_t five = 5, six = 6;
    original.setConstantValue(&five, MTLDataType::int_, 0);
    MTLFunctionConstantValues copy = original;
    EXPECT_EQ(copy, original);
    copy.setConstantValue(&six, MTLDataType::int_, 0);
    copy.setConstantValue(&six, MTLDataType::int_, 1);
    EXPECT_EQ(original.intValue(0), 5);
    EXPECT_EQ(original.value(1), nullptr);
    EXPECT_EQ(copy.intValue(0), 6);
    EXPECT_EQ(copy.intValue(1), 6);
    EXPECT_FALSE(copy == original);
    EXPECT_EQ(MTLFunctionConstantValues{}.value(0), nullptr);
}

} // namespace
