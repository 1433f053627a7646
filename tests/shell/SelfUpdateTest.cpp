#include "base/Error.h"
#include "shell/SelfUpdate.h"
#include "support/HttpPeer.h"
#include "support/ReadFile.h"
#include "support/TempDir.h"

#include <fstream>
#include <future>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/stat.h>

namespace {

bool IsExecutable(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0 && (st.st_mode & S_IXUSR);
}

// Runs an update to the end and returns it.
std::unique_ptr<CSelfUpdate> RunUpdate(const std::string& page, const std::string& dir, bool allowInsecure)
{
    auto update = std::make_unique<CSelfUpdate>(page, dir, allowInsecure);
    std::promise<void> done;
    update->Start([&] { done.set_value(); });
    EXPECT_EQ(done.get_future().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_TRUE(update->IsFinished());
    return update;
}

}  // namespace

TEST(SelfUpdate, DownloadAddressIsResolvedAgainstThePage)
{
    struct Case {
        const char* page;
        const char* href;
        const char* address;
    } cases[] = {
        {"https://h/rel/update.html", "Pevrolt", "https://h/rel/Pevrolt"},
        {"https://h/rel/update.html", "bin/Pevrolt", "https://h/rel/bin/Pevrolt"},
        {"https://h/rel/", "Pevrolt", "https://h/rel/Pevrolt"},
        {"https://h:8443/a/b.html", "/top/Pevrolt", "https://h:8443/top/Pevrolt"},
        {"https://h/a/b.html", "http://other/Pevrolt", "http://other/Pevrolt"},
        {"https://h", "Pevrolt", "https://h/Pevrolt"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DownloadAddress(c.page, c.href), c.address) << c.page << " + " << c.href;
    EXPECT_TRUE(IsSecureUrl("HTTPS://h/"));
    EXPECT_FALSE(IsSecureUrl("http://h/"));
}

TEST(SelfUpdate, UpdaterCommandLine)
{
    ProgramVersion v = {1, 2, 3, 4};
    EXPECT_EQ(UpdaterArgumentText(v, "https://h/u.html", "/opt/telvane//"),
              "Telvane 1.2.3.4 https://h/u.html \"/opt/telvane\"");
    EXPECT_EQ(UpdaterArguments(v, "https://h/u.html", "/opt/telvane/"),
              (std::vector<std::string>{"Telvane", "1.2.3.4", "https://h/u.html", "/opt/telvane"}));
    EXPECT_EQ(UpdaterFile("/opt/telvane/"), "/opt/telvane/Pevrolt");
    EXPECT_EQ(ProgramFile("/opt/telvane"), "/opt/telvane/Telvane");
    EXPECT_EQ(AboutText(v), "Telvane, Version 1.2.3.4");
}

TEST(SelfUpdate, PlainHttpPageIsRefusedWithoutTheOperatorsConsent)
{
    CTempDir root, install;
    std::ofstream(root.File("update.html")) << "<a href=\"Pevrolt\">Pevrolt</a>";
    CHttpPeer peer(root.Path());
    std::string page = peer.Url("/files/update.html");
    auto update = RunUpdate(page, install.Path(), false);
    EXPECT_FALSE(update->Succeeded());
    EXPECT_EQ(update->ErrorText().rfind("Error Connecting " + page + "\nError ->5\n", 0), 0u) << update->ErrorText();
    EXPECT_TRUE(install.Entries().empty());
}

TEST(SelfUpdate, DownloadsTheLinkedUpdaterAndMakesItExecutable)
{
    CTempDir root, install;
    std::ofstream(root.File("update.html")) << "<p>Tools</p>\n<a href=\"other\">Other</a>\n<a href=\"Pevrolt.bin\"><b>Pevrolt</b></a>";
    std::ofstream(root.File("Pevrolt.bin")) << "#!/bin/sh\necho updated\n";
    CHttpPeer peer(root.Path());
    auto update = RunUpdate(peer.Url("/files/update.html"), install.Path(), true);
    ASSERT_TRUE(update->Succeeded()) << update->ErrorText();
    EXPECT_EQ(update->UpdaterPath(), install.File("Pevrolt"));
    EXPECT_EQ(ReadFile(install.File("Pevrolt")), "#!/bin/sh\necho updated\n");
    EXPECT_TRUE(IsExecutable(install.File("Pevrolt")));
    EXPECT_EQ(update->Transferred(), update->Total());
}

TEST(SelfUpdate, PageWithoutTheLinkKeepsTheInstalledUpdater)
{
    CTempDir root, install;
    std::ofstream(root.File("update.html")) << "<a href=\"x\">Pevrolt 2</a>";
    std::ofstream(install.File("Pevrolt")) << "installed";
    CHttpPeer peer(root.Path());
    auto update = RunUpdate(peer.Url("/files/update.html"), install.Path(), true);
    EXPECT_TRUE(update->Succeeded()) << update->ErrorText();
    EXPECT_EQ(ReadFile(install.File("Pevrolt")), "installed");
}

TEST(SelfUpdate, FailuresCarryTheAddressAndTheSystemErrorText)
{
    CTempDir root, install;
    std::ofstream(root.File("update.html")) << "<a href=\"gone\">Pevrolt</a>";
    CHttpPeer peer(root.Path());

    std::string missingPage = peer.Url("/status/404");
    auto update = RunUpdate(missingPage, install.Path(), true);
    EXPECT_EQ(update->ErrorText(), formatErrorText("Error Connecting " + missingPage + "\nError", err::NotFound));

    update = RunUpdate(peer.Url("/files/update.html"), install.Path(), true);
    std::string address = peer.Url("/files/gone");
    EXPECT_EQ(update->ErrorText(), formatErrorText("Copy " + address + "\nERROR ", err::NotFound));
    EXPECT_TRUE(install.Entries().empty());
}
