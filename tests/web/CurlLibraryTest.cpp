// libcurl loaded on first use: what a missing library says, and that
// programs do not load it at start.

#include "support/RunCommand.h"
#include "web/CurlLibrary.h"

#include <gtest/gtest.h>
#include <string>

TEST(CurlLibrary, AMissingLibraryIsNamedInTheError)
{
    const CCurlLibrary missing("libcurl-not-installed.so.4");
    EXPECT_FALSE(missing.Loaded());
    EXPECT_EQ(missing.Error().rfind("The internet client needs libcurl-not-installed.so.4, which cannot be loaded: ", 0),
              0u)
        << missing.Error();
    EXPECT_NE(missing.Error().find("No such file"), std::string::npos) << missing.Error();
    EXPECT_EQ(missing.easyInit, nullptr);
}

TEST(CurlLibrary, TheInstalledLibraryResolvesEveryFunction)
{
    const CCurlLibrary& curl = CCurlLibrary::Get();
    ASSERT_TRUE(curl.Loaded()) << curl.Error();
    EXPECT_STREQ(curl.easyStrerror(CURLE_OK), "No error");
    CURL* easy = curl.easyInit();
    ASSERT_NE(easy, nullptr);
    EXPECT_EQ(curl.easySetopt(easy, CURLOPT_URL, "http://127.0.0.1/"), CURLE_OK);
    curl.easyCleanup(easy);
}

TEST(CurlLibrary, TelvaneCliDoesNotLoadItAtStart)
{
    const std::string cli = TelvaneCli();
    if (cli.empty())
        GTEST_SKIP() << "telvane-cli not built in this tree";
    const CommandResult needed = RunCommand("readelf -d " + cli);
    ASSERT_EQ(needed.status, 0);
    ASSERT_NE(needed.out.find("(NEEDED)"), std::string::npos) << needed.out;
    EXPECT_EQ(needed.out.find("libcurl"), std::string::npos) << needed.out;
}
