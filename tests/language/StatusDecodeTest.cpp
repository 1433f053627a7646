// The decoding benchmark measures the decode tables against a hand-written
// decoder of the long status reply; the comparison holds only while both
// write the same text, byte for byte, for any reply.

#include "../../bench/StatusHandDecoder.h"

#include "language/LayoutWalk.h"
#include "language/VaCompiler.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

TEST(StatusDecodeTest, TablesAndHandDecoderWriteTheSameText)
{
    CVa_Compiler compiler;
    ASSERT_EQ(compiler.Compile(std::string(TELVANE_SOURCE_DIR) + "/examples/Cb_v126.dec", false), 1)
        << compiler.GetErrorText();
    const CStructList& structs = compiler.Structs();
    ASSERT_EQ(structs.SizeOf(0x13), 200);

    // Where the floating values keep their exponents.
    std::vector<size_t> exponents;
    CLayoutWalk walk;
    for (const _VA_ARG& field : structs.Find(0x13)->Fields()) {
        const size_t offset = walk.Enter(field).offset;
        if (field.kind == VDSPFLOAT)
            for (int e = 0; e < field.count; ++e)
                exponents.push_back(offset + 4 * static_cast<size_t>(e) + 2);
        walk.Leave(field);
    }
    ASSERT_EQ(exponents.size(), 32u);

    // All zeros, all ones, then random replies: every sign, every enum
    // miss, NUL and high characters; floating values from underflow to
    // infinity, and in every other reply values of everyday size, whose
    // roundings the texts show.
    std::vector<std::vector<uint8_t>> replies = {std::vector<uint8_t>(200, 0), std::vector<uint8_t>(200, 0xFF)};
    std::mt19937 random(22);
    for (int k = 0; k < 4000; ++k) {
        std::vector<uint8_t> bytes(200);
        for (auto& b : bytes)
            b = static_cast<uint8_t>(random());
        if (k % 2) {
            for (size_t at : exponents) {
                const auto exponent = static_cast<uint16_t>(static_cast<int>(random() % 80) - 30);
                bytes[at] = static_cast<uint8_t>(exponent >> 8);
                bytes[at + 1] = static_cast<uint8_t>(exponent);
            }
        }
        replies.push_back(bytes);
    }
    CStatusHandDecoder hand;
    for (const auto& bytes : replies)
        ASSERT_EQ(structs.DecodeText(0x13, bytes.data(), bytes.size()), hand.Decode(bytes.data()));
}

}  // namespace
