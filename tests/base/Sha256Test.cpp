#include "base/Sha256.h"
#include "support/RunCommand.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <string>

namespace {

std::string DigestOf(const std::string& text)
{
    CSha256 sha;
    sha.Update(text.data(), text.size());
    return CSha256::Hex(sha.Final());
}

}  // namespace

TEST(Sha256, KnownVectors)
{
    struct Case {
        std::string message;
        const char* digest;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmnopqrsmnopqrs"
         "tnopqrstu",
         "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
        {std::string(1000000, 'a'), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DigestOf(c.message), c.digest) << c.message.size() << " bytes";
}

TEST(Sha256, PiecesAcrossBlockEdgesMatchSha256sum)
{
    CTempDir dir;
    std::string data;
    for (int i = 0; i < 300; ++i)
        data += static_cast<char>((i * 131 + 7) & 0xFF);
    for (size_t length : {55u, 56u, 63u, 64u, 65u, 119u, 120u, 128u, 300u}) {
        const std::string part = data.substr(0, length);
        const std::string path = dir.File("piece");
        std::ofstream(path, std::ios::binary) << part;
        const std::string reference = RunCommand("sha256sum '" + path + "'").out.substr(0, 64);
        ASSERT_EQ(reference.size(), 64u) << "sha256sum is needed for this test";

        CSha256 sha;
        for (size_t at = 0; at < part.size(); at += 7)
            sha.Update(part.data() + at, std::min<size_t>(7, part.size() - at));
        EXPECT_EQ(CSha256::Hex(sha.Final()), reference) << length << " bytes in pieces of 7";
        EXPECT_EQ(DigestOf(part), reference) << length << " bytes at once";
    }
}

TEST(Sha256, FinalStartsOver)
{
    CSha256 sha;
    sha.Update("abc", 3);
    sha.Final();
    sha.Update("abc", 3);
    EXPECT_EQ(CSha256::Hex(sha.Final()), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}
