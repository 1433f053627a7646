// The Debian package built by cpack from this build folder, read back with
// dpkg-deb: its name, its files under /usr, and dependencies that
// dpkg-shlibdeps derived from the libraries the programs link.

#include "install/InstallLayout.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <regex>
#include <set>
#include <sstream>

namespace {

class Package : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_out = std::make_unique<CTempDir>();
        // gzip at its fastest: the test reads the package, it does not ship it.
        s_build = RunCommand("cd " + ShellQuoted(TELVANE_BINARY_DIR) + " && " + TELVANE_CPACK +
                             " -G DEB -D CPACK_DEBIAN_COMPRESSION_TYPE=gzip -D CPACK_THREADS=2 -B " +
                             ShellQuoted(s_out->Path()) + " 2>&1");
        s_deb = s_out->File(std::string("telvane_") + TELVANE_VERSION + "_amd64.deb");
    }
    static void TearDownTestSuite() { s_out.reset(); }
    void SetUp() override
    {
        ASSERT_EQ(s_build.status, 0) << s_build.out;
        ASSERT_TRUE(std::filesystem::exists(s_deb)) << s_build.out;
    }

    static std::string Field(const std::string& name)
    {
        CommandResult r = RunCommand("dpkg-deb -f " + ShellQuoted(s_deb) + " " + name);
        EXPECT_EQ(r.status, 0) << name;
        while (!r.out.empty() && r.out.back() == '\n')
            r.out.pop_back();
        return r.out;
    }

    static std::unique_ptr<CTempDir> s_out;
    static CommandResult s_build;
    static std::string s_deb;
};
std::unique_ptr<CTempDir> Package::s_out;
CommandResult Package::s_build;
std::string Package::s_deb;

TEST_F(Package, NamesItselfByVersionAndArchitecture)
{
    EXPECT_EQ(Field("Package"), "telvane");
    EXPECT_EQ(Field("Version"), TELVANE_VERSION);
    EXPECT_EQ(Field("Architecture"), "amd64");
    EXPECT_FALSE(Field("Maintainer").empty());
    EXPECT_FALSE(Field("Description").empty());
}

TEST_F(Package, HoldsTheInstalledFilesUnderUsrOwnedByRoot)
{
    const CommandResult list = RunCommand("dpkg-deb -c " + ShellQuoted(s_deb));
    ASSERT_EQ(list.status, 0);
    // "-rwxr-xr-x root/root 123 2026-01-01 00:00 ./usr/bin/telvane-cli"
    static const std::regex row("^(\\S+) (\\S+) +\\d+ \\S+ \\S+ \\./(.*)$");
    std::set<std::string> files;
    std::istringstream in(list.out);
    for (std::string line; std::getline(in, line);) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(line, m, row)) << line;
        EXPECT_EQ(m[2], "root/root") << line;
        const std::string path = m[3];
        if (m[1].str()[0] == 'd')
            continue;
        EXPECT_EQ(path.rfind("usr/", 0), 0u) << path;
        files.insert(path.substr(4));
        if (path.rfind("usr/bin/", 0) == 0) {
            EXPECT_EQ(m[1], "-rwxr-xr-x") << path;
        }
    }
    const std::vector<std::string> installed = InstalledFiles();
    EXPECT_EQ(files, std::set<std::string>(installed.begin(), installed.end()));
}

// Each library the programs link, as dpkg-shlibdeps names it: with the
// lowest version that has the symbols they use.
TEST_F(Package, DependsOnTheLinkedLibrariesWithDerivedVersions)
{
    const std::string depends = Field("Depends");
    std::vector<std::string> libraries = {"libc6", "libstdc++6", "libgcc-s1", "libtinyxml2-9", "libacl1"};
    if (TELVANE_WITH_UI)
        for (const char* qt : {"libqt6core6", "libqt6gui6", "libqt6widgets6", "libqt6charts6"})
            libraries.push_back(qt);
    for (const std::string& library : libraries) {
        const std::regex versioned("(^|, )" + std::regex_replace(library, std::regex("\\+"), "\\+") +
                                   " \\(>= [0-9][^)]*\\)(,|$)");
        EXPECT_TRUE(std::regex_search(depends, versioned)) << library << " in " << depends;
    }
    // The downloads need libcurl, linked or opened at run time.
    EXPECT_TRUE(std::regex_search(depends + ", " + Field("Recommends"), std::regex("(^|, )libcurl4( |,|$)")))
        << depends;
    // Nothing of the build: no compiler, test or development packages.
    for (const char* unwanted : {"-dev", "gtest", "googletest", "benchmark"})
        EXPECT_EQ(depends.find(unwanted), std::string::npos) << unwanted << " in " << depends;
}

}  // namespace
