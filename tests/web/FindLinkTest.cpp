#include "base/Error.h"
#include "web/FindLink.h"
#include "web/LinkTextReference.h"

#include <chrono>
#include <gtest/gtest.h>
#include <random>

namespace {

const char* const kFlashPattern =
    "^HC16[ \t]+Divadiduv[ \t]+Firmware[ \t]+V[ \t]*\\c[0-9]+\\c[.,]\\c[0-9]+\\c$";

struct FindCase {
    const char* what;
    std::string page;
    const char* pattern;
    bool ignoreCase;
    bool found;
    std::string href;
    std::string capture12;
    std::string capture34;
};

}  // namespace

TEST(FindLink, CleansAnchorTextAndTriesAnchorsInPageOrder)
{
    const FindCase cases[] = {
        {"plain", R"(<a href="hc16_125.s19">HC16 Divadiduv Firmware V1.25</a>)", kFlashPattern, true, true,
         "hc16_125.s19", "1", "25"},
        {"blank after V and a comma", R"(<a href="f.s19">HC16 Divadiduv Firmware V 1,25</a>)", kFlashPattern, true,
         true, "f.s19", "1", "25"},
        {"line break between words joins them",
         "<a href=\"f.s19\">HC16 Divadiduv\r\nFirmware V1.25</a>", kFlashPattern, true, false, "", "", ""},
        {"line break inside a word disappears", "<a href=\"f.s19\">HC16 Divadi\r\nduv Firmware V1.25</a>",
         kFlashPattern, true, true, "f.s19", "1", "25"},
        {"tags inside the text are removed", R"(<a href="f.s19"><b>HC16</b> <i>Divadiduv</i> Firmware V2.0</a>)",
         kFlashPattern, true, true, "f.s19", "2", "0"},
        {"nbsp is a blank", R"(<a href="f.s19">HC16&nbsp;Divadiduv&nbsp;Firmware&nbsp;V3.14</a>)", kFlashPattern,
         true, true, "f.s19", "3", "14"},
        {"first matching anchor wins",
         R"(<a href="old.s19">HC16 Divadiduv Firmware V1.2</a> <a href="new.s19">HC16 Divadiduv Firmware V9.9</a>)",
         kFlashPattern, true, true, "old.s19", "1", "2"},
        {"anchors that do not match are passed over",
         R"(<a href="notes.html">Release notes</a><p><A HREF="ram.s19">Ram Version of the Firmware V1.3</A>)"
         R"(<a href="flash.s19">HC16 Divadiduv Firmware V1.26</a>)",
         kFlashPattern, true, true, "flash.s19", "1", "26"},
        {"case of the link pattern", R"(<a href="f.s19">hc16 divadiduv firmware v1.25</a>)", kFlashPattern, false,
         false, "", "", ""},
        {"case ignored", R"(<a href="f.s19">hc16 divadiduv firmware v1.25</a>)", kFlashPattern, true, true, "f.s19",
         "1", "25"},
        {"blanks and TABs inside the anchor tag", "<\tA  hReF\t= \"x y.s19\" \t>HC16 Divadiduv Firmware V1.1</a>",
         kFlashPattern, true, true, "x y.s19", "1", "1"},
        {"another attribute before href is no anchor",
         R"(<a class="dl" href="f.s19">HC16 Divadiduv Firmware V1.25</a>)", kFlashPattern, true, false, "", "", ""},
        {"single quotes are no anchor", R"(<a href='f.s19'>HC16 Divadiduv Firmware V1.25</a>)", kFlashPattern, true,
         false, "", "", ""},
        {"anchor never closed", R"(<a href="f.s19">HC16 Divadiduv Firmware V1.25)", kFlashPattern, true, false, "",
         "", ""},
        {"empty page", "", kFlashPattern, true, false, "", "", ""},
        {"entities replaced in order, &amp; last", R"(<a href="e">a&amp;lt;b &quot;c&quot; &gt;</a>)",
         "^a&lt;b \"c\" >$", true, true, "e", "", ""},
        {"&lt; becomes a character, not a tag", R"(<a href="e">x&lt;b&gt;y</a>)", "^x<b>y$", false, true, "e", "",
         ""},
        {"update tool link", R"(<ul><li><a href="Pevrolt">Pevrolt</a></li></ul>)", "^Pevrolt$", true, true,
         "Pevrolt", "", ""},
        {"empty anchor text cannot match", R"(<a href="e"></a>)", "x*", true, false, "", "", ""},
    };
    for (const auto& c : cases) {
        std::string href = "unchanged", text;
        CMatch match;
        SetLastErr(0);
        bool found = FindLink(c.page.c_str(), c.pattern, c.ignoreCase, href, match, text);
        EXPECT_EQ(found, c.found) << c.what;
        if (!found) {
            EXPECT_EQ(GetLastErr(), err::NotFound) << c.what;
            EXPECT_EQ(href, "unchanged") << c.what;
            continue;
        }
        EXPECT_EQ(href, c.href) << c.what;
        EXPECT_EQ(match.GetCapture(1, 2, text.c_str()), c.capture12) << c.what;
        EXPECT_EQ(match.GetCapture(3, 4, text.c_str()), c.capture34) << c.what;
    }
}

TEST(FindLink, BadLinkPatternIsReportedNotThrown)
{
    const std::string page = R"(<a href="f">text</a>)";
    for (const char* pattern :
         {"*text", "(te", "[te", "", "|text", "+", "te)xt", "(t)e)", static_cast<const char*>(nullptr)}) {
        std::string href, text;
        CMatch match;
        SetLastErr(0);
        EXPECT_FALSE(FindLink(page.c_str(), pattern, true, href, match, text)) << (pattern ? pattern : "null");
        EXPECT_EQ(GetLastErr(), err::BadParam) << (pattern ? pattern : "null");
    }
}

TEST(FindLink, TagsAreRemovedUntilNoneIsLeft)
{
    const struct {
        const char* inner;
        const char* cleaned;
    } cases[] = {
        {"<b>bold</b> text", "bold text"},
        {"a <<b>b> c", "a b> c"},
        {"a < b", "a < b"},
        {"<>x<>", "<>x<>"},
        {"<i\r\n>split</i>", "split"},
        {"one<br/>two", "onetwo"},
    };
    for (const auto& c : cases) {
        std::string page = std::string("<a href=\"t\">") + c.inner + "</a>";
        std::string href, text;
        CMatch match;
        ASSERT_TRUE(FindLink(page.c_str(), "^", false, href, match, text)) << c.inner;
        EXPECT_EQ(text, c.cleaned) << c.inner;
    }
}

TEST(FindLink, OnePassCleaningEqualsTheStepByStepCleaning)
{
    const char* const pieces[] = {"<", ">", "<>", "<b>", "</i>", "&", ";", "&nbsp;", "&lt;", "&gt;", "&quot;",
                                  "&amp;", "amp;", "lt;", "&am", "nbsp", "a", " ", "\r", "\n", "\r\n", "\"", "x"};
    std::mt19937 random(21);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        for (int n = static_cast<int>(random() % 24); n > 0; --n)
            text += pieces[random() % std::size(pieces)];
        ASSERT_EQ(CleanAnchorText(text), linktext::CleanStepByStep(text)) << text;
    }
}

TEST(FindLink, HostileAnchorTextsAreCleanedInOnePass)
{
    // Removing tag by tag rescans the rest of the text for every '<' and
    // moves it for every tag: minutes for these texts, not milliseconds.
    const struct {
        const char* what;
        std::string inner;
        std::string cleaned;
    } cases[] = {
        {"a million '<' and no '>'", std::string(1000000, '<'), std::string(1000000, '<')},
        {"400,000 small tags", [] {
             std::string t;
             for (int i = 0; i < 400000; ++i)
                 t += "<i>y";
             return t;
         }(), std::string(400000, 'y')},
        {"a million entities", [] {
             std::string t;
             for (int i = 0; i < 1000000; ++i)
                 t += "&lt;";
             return t;
         }(), std::string(1000000, '<')},
    };
    for (const auto& c : cases) {
        const std::string page = "<a href=\"x\">" + c.inner + "</a>";
        const auto start = std::chrono::steady_clock::now();
        std::string href, text;
        CMatch match;
        ASSERT_TRUE(FindLink(page.c_str(), "^", false, href, match, text)) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << c.what;
        EXPECT_EQ(text, c.cleaned) << c.what;
    }
}
