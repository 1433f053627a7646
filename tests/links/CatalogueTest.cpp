#include "base/Error.h"
#include "links/Divadiduv.h"
#include "support/HttpPeer.h"
#include "support/TempDir.h"

#include <chrono>
#include <fstream>
#include <gtest/gtest.h>

namespace {

std::unique_ptr<CDivadiduvs> Parse(const std::string& xml) { return ParseDivadiduvs(xml.data(), xml.size()); }

void WriteFile(const std::string& path, const std::string& content)
{
    std::ofstream out(path, std::ios::binary);
    out << content;
}

const char* const kCatalogue = R"(<?xml version="1.0"?>
<Divadiduvs>
  <Divadiduv wheel="YB+1" sector="S4" type="MB2" pid="12" ccbid="345" host="crates.example" pid_port="18888" ccbid_port="18889"/>
  <Divadiduv wheel="YB-2" sector="S12" type="MB5" pid="7" ccbid="9" host="h2" pid_port="1" ccbid_port="2" proxy="socks.example:1080"/>
  <Divadiduv wheel="YB+1" sector="S4" type="MB2" pid="99" ccbid="1" host="duplicate"/>
</Divadiduvs>
)";

// The fields as one line, in the order the catalogue command prints them.
std::string Line(const CDivadiduv& c)
{
    return std::to_string(c.wheel) + " " + std::to_string(c.sector) + " " + std::to_string(c.type) + " " +
           std::to_string(c.pid) + " " + std::to_string(c.ccbid) + " " + std::to_string(c.secondaryAddress) + " " +
           c.host + " " + std::to_string(c.pidPort) + " " + std::to_string(c.ccbidPort) + " " + c.proxy;
}

}  // namespace

TEST(Catalogue, ReadsCratesInFileOrder)
{
    auto catalogue = Parse(kCatalogue);
    ASSERT_TRUE(catalogue);
    ASSERT_EQ(catalogue->GetSize(), 3);
    EXPECT_EQ(Line(catalogue->GetAt(0)), "1 4 2 12 345 23345 crates.example 18888 18889 ");
    EXPECT_EQ(Line(catalogue->GetAt(1)), "-2 12 5 7 9 35009 h2 1 2 socks.example:1080");
    EXPECT_EQ(Line(catalogue->GetAt(2)), "1 4 2 99 1 23001 duplicate 0 0 ");
    EXPECT_THROW(catalogue->GetAt(3), std::out_of_range);
    EXPECT_THROW(catalogue->GetAt(-1), std::out_of_range);
}

TEST(Catalogue, AttributeRules)
{
    const struct {
        const char* attributes;
        const char* line;  // empty: the crate is rejected
    } cases[] = {
        {"", "-10 -1 0 -1 0 -1  0 0 "},
        {R"(wheel="YB-2")", "-2 -1 0 -1 0 -1  0 0 "},
        {R"(wheel="YB-1")", "-1 -1 0 -1 0 -1  0 0 "},
        {R"(wheel="YB0")", "0 -1 0 -1 0 -1  0 0 "},
        {R"(wheel="yb+2")", "2 -1 0 -1 0 -1  0 0 "},
        {R"(wheel="YB+3")", "-10 -1 0 -1 0 -1  0 0 "},
        {R"(wheel="YB+0")", "-10 -1 0 -1 0 -1  0 0 "},
        {R"(wheel="YB+1" wheel="bogus")", ""},  // duplicate attributes are not well-formed XML
        {R"(sector="S1")", "-10 1 0 -1 0 -1  0 0 "},
        {R"(sector="s12")", "-10 12 0 -1 0 -1  0 0 "},
        {R"(sector="S13")", "-10 -1 0 -1 0 -1  0 0 "},
        {R"(sector="S0")", "-10 -1 0 -1 0 -1  0 0 "},
        {R"(type="MB1")", "-10 -1 1 -1 0 -1  0 0 "},
        {R"(type="mb5")", "-10 -1 5 -1 0 -1  0 0 "},
        {R"(type="MB6")", "-10 -1 0 -1 0 -1  0 0 "},
        {R"(sector="S1" ccbid="5")", "-10 1 0 -1 5 20005  0 0 "},
        {R"(sector="S6" ccbid="5")", "-10 6 0 -1 5 25005  0 0 "},
        {R"(sector="S7" ccbid="5")", "-10 7 0 -1 5 30005  0 0 "},
        {R"(sector="S12" ccbid="5")", "-10 12 0 -1 5 35005  0 0 "},
        {R"(ccbid="5" sector="S7")", "-10 7 0 -1 5 18005  0 0 "},
        {R"(sector="S3" ccbid="0")", "-10 3 0 -1 0 -1  0 0 "},
        {R"(pid="-3" pid_port="12x" ccbid_port="abc")", "-10 -1 0 -3 0 -1  12 0 "},
        {R"(pid="99999999999")", "-10 -1 0 2147483647 0 -1  0 0 "},
        {R"(sector="S12" ccbid="2147483647")", "-10 12 0 -1 2147483647 2147483647  0 0 "},
        {R"(HOST="a.b" Proxy="p:1" CCBID="4" SECTOR="S2")", "-10 2 0 -1 4 18004 a.b 0 0 p:1"},
        {R"(wheel="YB0" colour="red")", ""},
        {R"(name="x")", ""},
    };
    for (const auto& c : cases) {
        std::string xml = std::string("<Divadiduvs><Divadiduv ") + c.attributes +
                          R"(/><Divadiduv host="marker"/></Divadiduvs>)";
        auto catalogue = Parse(xml);
        if (std::string(c.attributes).find("wheel=\"bogus\"") != std::string::npos) {
            EXPECT_FALSE(catalogue) << c.attributes;
            continue;
        }
        ASSERT_TRUE(catalogue) << c.attributes;
        if (!*c.line) {
            ASSERT_EQ(catalogue->GetSize(), 1) << c.attributes;
            EXPECT_EQ(catalogue->GetAt(0).host, "marker") << "the other crates stay";
            continue;
        }
        ASSERT_EQ(catalogue->GetSize(), 2) << c.attributes;
        EXPECT_EQ(Line(catalogue->GetAt(0)), c.line) << c.attributes;
    }
}

TEST(Catalogue, FindWithWildcards)
{
    auto catalogue = Parse(kCatalogue);
    ASSERT_TRUE(catalogue);
    const struct {
        int wheel, sector, type, index;
    } cases[] = {
        {-10, -1, -1, 0}, {1, 4, 2, 0},   {-2, 12, 5, 1},  {-2, -1, -1, 1}, {-10, 12, -1, 1},
        {-10, -1, 5, 1},  {1, 4, 5, -1},  {0, -1, -1, -1}, {2, 4, 2, -1},   {-10, 5, -1, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(catalogue->Find(c.wheel, c.sector, c.type), c.index) << c.wheel << " " << c.sector << " " << c.type;
    EXPECT_EQ(CDivadiduvs().Find(-10, -1, -1), -1);
}

TEST(Catalogue, ElementNamesWithoutCaseAndOtherElementsIgnored)
{
    auto catalogue = Parse(R"(<DIVADIDUVS>
        <comment/>
        <divadiduv host="a"><Divadiduv host="nested"/></divadiduv>
        <Group><Divadiduv host="in group"/></Group>
        <DivaDiduv host="b"/>
        <Divadiduvs><Divadiduv host="inner list"/></Divadiduvs>
    </DIVADIDUVS>)");
    ASSERT_TRUE(catalogue);
    ASSERT_EQ(catalogue->GetSize(), 2);
    EXPECT_EQ(catalogue->GetAt(0).host, "a");
    EXPECT_EQ(catalogue->GetAt(1).host, "b");

    EXPECT_EQ(Parse("<Divadiduvs/>")->GetSize(), 0);
}

TEST(Catalogue, DocumentsThatAreNoCatalogue)
{
    for (const char* xml : {"", "not xml", "<Divadiduvs>", "<Crates><Divadiduv host=\"a\"/></Crates>",
                            "<Divadiduv host=\"a\"/>", "<?xml version=\"1.0\"?>"}) {
        SetLastErr(0);
        EXPECT_FALSE(Parse(xml)) << xml;
        EXPECT_EQ(GetLastErr(), err::BadFormat) << xml;
    }
}

TEST(Catalogue, HostileDocumentsAreRefusedSafely)
{
    // Character references far outside Unicode (the overflow of the parser's
    // own conversion).
    for (const char* reference : {"&#x110000;", "&#xFFFFFFFFFFFFFFFFFFFFFFFF;", "&#99999999999999999999;",
                                  "&#1114112;", "&#x1000000000000000000000000000000000000000;"}) {
        std::string xml = std::string("<Divadiduvs><Divadiduv host=\"") + reference + "\"/></Divadiduvs>";
        SetLastErr(0);
        EXPECT_FALSE(Parse(xml)) << reference;
        EXPECT_EQ(GetLastErr(), err::BadFormat) << reference;
        xml = std::string("<Divadiduvs>") + reference + "</Divadiduvs>";
        EXPECT_FALSE(Parse(xml)) << reference;
    }
    // The largest reference that is still a character is read as one.
    auto catalogue = Parse(R"(<Divadiduvs><Divadiduv host="&#x10FFFF;&#65;&#x42;"/></Divadiduvs>)");
    ASSERT_TRUE(catalogue);
    EXPECT_EQ(catalogue->GetAt(0).host, "\xF4\x8F\xBF\xBF" "AB");

    // Nesting far deeper than any catalogue.
    std::string deep = "<Divadiduvs>";
    for (int i = 0; i < 100000; ++i)
        deep += "<x>";
    for (int i = 0; i < 100000; ++i)
        deep += "</x>";
    deep += "</Divadiduvs>";
    SetLastErr(0);
    EXPECT_FALSE(Parse(deep));
    EXPECT_EQ(GetLastErr(), err::BadFormat);

    // Nesting the parser accepts is walked without recursion.
    std::string nested = "<Divadiduvs>";
    for (int i = 0; i < 90; ++i)
        nested += "<Divadiduv host=\"" + std::to_string(i) + "\">";
    for (int i = 0; i < 90; ++i)
        nested += "</Divadiduv>";
    nested += "</Divadiduvs>";
    catalogue = Parse(nested);
    ASSERT_TRUE(catalogue);
    ASSERT_EQ(catalogue->GetSize(), 1);
    EXPECT_EQ(catalogue->GetAt(0).host, "0");
}

TEST(Catalogue, ElementsWithMoreAttributesThanAnyCatalogueNeedsAreRefused)
{
    auto attributes = [](int count, const char* value = "1") {
        std::string text;
        for (int i = 0; i < count; ++i)
            text += " a" + std::to_string(i) + "=\"" + value + "\"";
        return text;
    };
    const std::string crate = R"(<Divadiduv wheel="YB0" sector="S1" type="MB1" host="h"/>)";
    const std::string manyEquals(100, '=');
    const struct {
        const char* what;
        std::string xml;
        bool accepted;
    } cases[] = {
        {"64 on another element", "<Divadiduvs><x" + attributes(64) + "/>" + crate + "</Divadiduvs>", true},
        {"65 on another element", "<Divadiduvs><x" + attributes(65) + "/>" + crate + "</Divadiduvs>", false},
        {"65 on a crate", "<Divadiduvs><Divadiduv" + attributes(65) + "/></Divadiduvs>", false},
        {"65 on the root", "<Divadiduvs" + attributes(65) + ">" + crate + "</Divadiduvs>", false},
        {"200,000 on one element", "<Divadiduvs" + attributes(200000) + "/>", false},
        {"'=' and '>' inside values", "<Divadiduvs><x" + attributes(60, "=>='=>") + " b='" + manyEquals + "'/>" +
                                          crate + "</Divadiduvs>",
         true},
        {"'=' in a comment, a CDATA section, a declaration and a DOCTYPE",
         "<?xml version=\"1.0\" x" + manyEquals + "?><!DOCTYPE d " + manyEquals + "><Divadiduvs><!-- <x" +
             attributes(100) + "/> --><x><![CDATA[<y" + attributes(100) + "/>]]></x>" + crate + "</Divadiduvs>",
         true},
        {"'=' in text", "<Divadiduvs>" + manyEquals + crate + "</Divadiduvs>", true},
    };
    for (const auto& c : cases) {
        SetLastErr(0);
        const auto start = std::chrono::steady_clock::now();
        auto catalogue = Parse(c.xml);
        // Checking each attribute against all before it takes minutes here.
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.what;
        EXPECT_EQ(catalogue != nullptr, c.accepted) << c.what;
        if (c.accepted)
            EXPECT_EQ(catalogue->GetSize(), 1) << c.what;
        else
            EXPECT_EQ(GetLastErr(), err::BadFormat) << c.what;
    }
}

TEST(Catalogue, LoadsLocalFiles)
{
    CTempDir dir;
    WriteFile(dir.File("DivadiduvList.xml"), kCatalogue);
    auto catalogue = LoadDivadiduvs(dir.File("DivadiduvList.xml"));
    ASSERT_TRUE(catalogue);
    EXPECT_EQ(catalogue->GetSize(), 3);

    SetLastErr(0);
    EXPECT_FALSE(LoadDivadiduvs(""));
    EXPECT_EQ(GetLastErr(), err::NotFound);
    SetLastErr(0);
    EXPECT_FALSE(LoadDivadiduvs(dir.File("missing.xml")));
    EXPECT_EQ(GetLastErr(), err::NotFound);
    SetLastErr(0);
    EXPECT_FALSE(LoadDivadiduvs(dir.Path()));  // a folder
    EXPECT_NE(GetLastErr(), 0u);
}

TEST(Catalogue, FilesOverSixteenMebibytesAreRefusedBeforeParsing)
{
    CTempDir dir;
    std::string head = "<Divadiduvs><Divadiduv host=\"a\"/>";
    std::string tail = "</Divadiduvs>";
    std::string xml = head + std::string(CXmlParser::kMaxFileSize - head.size() - tail.size(), ' ') + tail;
    ASSERT_EQ(xml.size(), CXmlParser::kMaxFileSize);
    WriteFile(dir.File("limit.xml"), xml);
    auto catalogue = LoadDivadiduvs(dir.File("limit.xml"));
    ASSERT_TRUE(catalogue);
    EXPECT_EQ(catalogue->GetSize(), 1);

    xml.insert(head.size(), " ");
    WriteFile(dir.File("over.xml"), xml);
    SetLastErr(0);
    EXPECT_FALSE(LoadDivadiduvs(dir.File("over.xml")));
    EXPECT_EQ(GetLastErr(), err::BadFormat);

    SetLastErr(0);
    EXPECT_FALSE(LoadDivadiduvs("/dev/zero"));
    EXPECT_EQ(GetLastErr(), err::BadFormat);
}

TEST(Catalogue, DownloadsOverHttpIntoATemporaryFileAlwaysDeleted)
{
    CTempDir served, temp;
    WriteFile(served.File("DivadiduvList.xml"), kCatalogue);
    WriteFile(served.File("broken.xml"), "<Divadiduvs><Divadiduv");
    std::string big = "<Divadiduvs>" + std::string(CXmlParser::kMaxFileSize, ' ') + "</Divadiduvs>";
    WriteFile(served.File("big.xml"), big);
    CHttpPeer peer(served.Path());

    const char* savedTmp = getenv("TMPDIR");
    std::string restore = savedTmp ? savedTmp : "";
    setenv("TMPDIR", temp.Path().c_str(), 1);

    auto catalogue = LoadDivadiduvs(peer.Url("/files/DivadiduvList.xml"));
    EXPECT_TRUE(catalogue);
    EXPECT_EQ(catalogue ? catalogue->GetSize() : 0, 3);
    EXPECT_TRUE(temp.Entries().empty());

    catalogue = LoadDivadiduvs("HTTP://127.0.0.1:" + std::to_string(peer.Port()) + "/files/DivadiduvList.xml");
    EXPECT_TRUE(catalogue) << "the scheme is read without case";
    EXPECT_TRUE(temp.Entries().empty());

    const struct {
        std::string location;
        uint32_t error;
        std::string text;  // why the download failed
    } failures[] = {
        {peer.Url("/files/missing.xml"), err::CatalogueDownload, peer.Url("/files/missing.xml") + " answered status 404"},
        {peer.Url("/status/500"), err::CatalogueDownload, peer.Url("/status/500") + " answered status 500"},
        {peer.Url("/cut/5000"), err::CatalogueDownload, ""},
        {peer.Url("/files/big.xml"), err::CatalogueDownload, "The catalogue is longer than 16777216 bytes"},
        {"http://127.0.0.1:1/DivadiduvList.xml", err::CatalogueDownload, ""},
        {peer.Url("/files/broken.xml"), err::BadFormat, ""},
    };
    for (const auto& f : failures) {
        SetLastErr(0);
        EXPECT_FALSE(LoadDivadiduvs(f.location)) << f.location;
        EXPECT_EQ(GetLastErr(), f.error) << f.location;
        if (!f.text.empty())
            EXPECT_EQ(LastErrText(), f.text);
        else
            EXPECT_FALSE(LastErrText().empty()) << f.location;
        EXPECT_TRUE(temp.Entries().empty()) << f.location;
    }

    if (savedTmp)
        setenv("TMPDIR", restore.c_str(), 1);
    else
        unsetenv("TMPDIR");
}
