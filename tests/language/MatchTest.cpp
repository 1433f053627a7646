#include "language/Match.h"
#include "language/SeekReader.h"
#include "TempFile.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

namespace {

struct FindCase {
    const char* pattern;
    bool ignoreCase;
    const char* text;
    int startPos;
    bool found;
    int endPos;
};

TEST(MatchTest, FindsAndEndsWhereExpected)
{
    const FindCase cases[] = {
        {"abc", false, "xxabcxx", 0, true, 5},
        {"abc", false, "xxabcxx", 3, false, 0},
        {"ABC", true, "xxabcxx", 0, true, 5},
        {"ABC", false, "xxabcxx", 0, false, 0},
        {"[0-9]+0", false, "100", 0, false, 0},           // '+' gives nothing back
        {"a.c", false, "a\nc", 0, true, 3},
        {"x$", false, "ax\r\nb", 0, true, 4},             // CR LF is one line end
        {"x$", false, "ax\rb", 0, true, 3},
        {"x$", false, "ax", 0, true, 2},                  // end of text consumes nothing
        {"$*", false, "", 0, false, 0},                   // NUL at startPos: no try
        {"^$*", false, "", 0, true, 0},                   // stops after one empty step
        {"^$*", false, "\n\r\n\rx", 0, true, 4},
        {"b?c", false, "ac", 0, true, 2},
        {"^b", false, "ab", 0, false, 0},                 // anchored: one try only
        {"^b", false, "a\nb", 2, true, 3},
        {"[^\"]+", false, "\"ab\"", 1, true, 3},
        {"[\\-0-9]+", false, "x-12a", 0, true, 4},
        {"[]a", false, "a", 0, false, 0},                 // empty class never matches
        {"\\t\\065", false, "x\tA", 0, true, 3},          // escapes: TAB, decimal 65
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.pattern) + " on " + c.text);
        CMatch m(c.pattern, c.ignoreCase);
        int end = -7;
        EXPECT_EQ(m.Match(c.text, c.startPos, &end) != 0, c.found);
        if (c.found) {
            EXPECT_EQ(end, c.endPos);
        }
    }
}

TEST(MatchTest, CompileResultAndStopOffset)
{
    CMatch m;
    int stop = -1;
    EXPECT_EQ(m.Compile("ab(c|d", false, &stop), 0);  // group not closed
    EXPECT_EQ(stop, 6);
    EXPECT_EQ(m.Compile("a[bc", false, &stop), 0);     // class not closed
    EXPECT_EQ(m.Compile("ab|cd", false, &stop), 1);    // top level '|' ends the pattern
    EXPECT_EQ(stop, 2);
    EXPECT_TRUE(m.Match("ab", 0));
    EXPECT_FALSE(m.Match("cd", 0));
    EXPECT_EQ(m.Compile("abc", false, &stop), 1);
    EXPECT_EQ(stop, 3);
    EXPECT_EQ(m.Compile("a\\", false, &stop), 0);  // pattern ends after a backslash
    EXPECT_EQ(stop, 1);
}

TEST(MatchTest, CloseWithoutOpenIsUnbalanced)
{
    const struct {
        const char* pattern;
        int result;
        int stop;
    } cases[] = {
        {"HC16)ZZZZ-not-in-page", 0, 4},
        {")", 0, 0},
        {"(a)b)c", 0, 4},
        {"a|b)", 1, 1},  // the top-level '|' ends the pattern before the ')'
        {"(a)b(c|(d))", 1, 11},
    };
    for (const auto& c : cases) {
        CMatch m;
        int stop = -1;
        EXPECT_EQ(m.Compile(c.pattern, false, &stop), c.result) << c.pattern;
        EXPECT_EQ(stop, c.stop) << c.pattern;
    }
}

TEST(MatchTest, InvalidArguments)
{
    EXPECT_THROW(CMatch("*a"), std::invalid_argument);
    EXPECT_THROW(CMatch("(+a)"), std::invalid_argument);
    EXPECT_THROW(CMatch("(a|b)+"), std::invalid_argument);  // groups take no quantifier
    CMatch empty("");
    EXPECT_THROW(empty.Match("abc", 0), std::invalid_argument);
    CMatch onlyAlternation("|abc");
    EXPECT_THROW(onlyAlternation.Match("abc", 0), std::invalid_argument);
    // A failed compile after a throw leaves no pattern behind.
    CMatch m("abc");
    EXPECT_THROW(m.Compile("?", false), std::invalid_argument);
    EXPECT_THROW(m.Match("abc", 0), std::invalid_argument);
}

TEST(MatchTest, ContentLengthCapture)
{
    CMatch m("Content-Length:[ \t]*\\c[0-9]+\\c", true);
    const char* header = "HTTP/1.1 200 OK\r\ncontent-length: 512\r\nServer: x\r\n";
    ASSERT_TRUE(m.Match(header, 0));
    EXPECT_EQ(m.GetCapture(1, 2, header), "512");
}

TEST(MatchTest, LinkPatternFindsEachAnchor)
{
    CMatch link("<[ \t]*a[ \t]+href[ \t]*=[ \t]*\"\\c[^\"]+\\c\"[ \t]*>", true);
    const char* page = "<p>x</p><A HREF = \"one.s19\" >1</a> text <a href=\"two.hex\">2</a>";
    int end = 0;
    ASSERT_TRUE(link.Match(page, 0, &end));
    EXPECT_EQ(link.GetCapture(1, 2, page), "one.s19");
    ASSERT_TRUE(link.Match(page, end, &end));
    EXPECT_EQ(link.GetCapture(1, 2, page), "two.hex");
    EXPECT_FALSE(link.Match(page, end));
}

TEST(MatchTest, AlternativesAndGroupNumbering)
{
    CMatch m("(ab|cd)");
    ASSERT_TRUE(m.Match("cd", 0));
    EXPECT_EQ(m.GetGroupAlternative(1), 1);
    EXPECT_EQ(m.GetGroupAlternative(2), -1);
    EXPECT_EQ(m.GetGroupText(1, "cd"), "cd");

    // A group is numbered before the groups inside it.
    CMatch nested("(x(a|b)|y(c|d))(e|f)");
    const char* text = "ydf";
    ASSERT_TRUE(nested.Match(text, 0));
    EXPECT_EQ(nested.GroupCount(), 4);
    EXPECT_EQ(nested.GetGroupAlternative(1), 1);
    EXPECT_EQ(nested.GetGroupAlternative(2), -1);  // alternative not taken
    EXPECT_EQ(nested.GetGroupAlternative(3), 1);
    EXPECT_EQ(nested.GetGroupAlternative(4), 1);
    EXPECT_EQ(nested.GetGroupText(3, text), "d");
}

TEST(MatchTest, MarkNumberingAndUnreachedMarks)
{
    CMatch m("x(a|\\cb\\c)y");
    ASSERT_EQ(m.MarkCount(), 2);
    ASSERT_TRUE(m.Match("xby", 0));
    EXPECT_EQ(m.GetCapture(1, 2, "xby"), "b");
    ASSERT_TRUE(m.Match("xay", 0));
    EXPECT_EQ(m.GetMarkPos(1), -1);
    EXPECT_EQ(m.GetMarkPos(2), -1);
    EXPECT_EQ(m.GetCapture(1, 2, "xay"), "");
    EXPECT_EQ(m.GetCapture(1, 9, "xay"), "");  // no such mark
}

TEST(MatchTest, MarksOfAFailedAlternativeAreCleared)
{
    // The first alternative sets mark 1 before it fails at 'z'.
    CMatch m("(a\\cbz|ab\\c)");
    ASSERT_TRUE(m.Match("ab", 0));
    EXPECT_EQ(m.GetMarkPos(1), -1);
    EXPECT_EQ(m.GetMarkPos(2), 2);
}

TEST(MatchTest, MarksFromEarlierSearchPositionsDoNotLeak)
{
    CMatch m("a\\c[0-9]+\\c;");
    const char* text = "a12 a34;";
    ASSERT_TRUE(m.Match(text, 0));
    EXPECT_EQ(m.GetCapture(1, 2, text), "34");
}

TEST(MatchTest, EachMatchStartsFromClearPositions)
{
    CMatch m("(a\\cb|c\\cd)");
    ASSERT_TRUE(m.Match("ab", 0));
    EXPECT_EQ(m.GetMarkPos(1), 1);
    ASSERT_TRUE(m.Match("cd", 0));
    EXPECT_EQ(m.GetMarkPos(1), -1);
    EXPECT_EQ(m.GetMarkPos(2), 1);
    EXPECT_FALSE(m.Match("xx", 0));
    EXPECT_EQ(m.GetMarkPos(2), -1);
    EXPECT_EQ(m.GetGroupAlternative(1), -1);

    CSeekReader reader;
    reader.Attach("ab", 2);
    ASSERT_TRUE(m.MatchAt(reader, 0));
    EXPECT_EQ(m.GetGroupAlternative(1), 0);
    EXPECT_FALSE(m.MatchAt(reader, 1));
    EXPECT_EQ(m.GetGroupAlternative(1), -1);
    EXPECT_EQ(m.GetMarkPos(1), -1);
}

TEST(MatchTest, CommentLinePattern)
{
    CMatch m("^[ \t]*(//[^$]*$|$)");
    int end = 0;
    EXPECT_TRUE(m.Match("", 0, &end));
    EXPECT_EQ(end, 0);
    EXPECT_TRUE(m.Match("  \t\r\nnext", 0, &end));
    EXPECT_EQ(end, 5);
    EXPECT_TRUE(m.Match("// note\nnext", 0, &end));
    EXPECT_EQ(end, 8);
    EXPECT_EQ(m.GetGroupAlternative(1), 0);
    EXPECT_FALSE(m.Match("x // note", 0));
}

TEST(MatchTest, ClassRangesAndContinuation)
{
    CMatch hex("^[0-9-a-fA-F]+$");
    EXPECT_TRUE(hex.Match("09:;<=>?@GZ[\\]^_`af", 0));  // every character from "0" to "f"
    EXPECT_FALSE(hex.Match("g", 0));
    EXPECT_FALSE(hex.Match("/", 0));

    CMatch trailingMinus("^[a-]+$");
    EXPECT_TRUE(trailingMinus.Match("a-a", 0));
    EXPECT_FALSE(trailingMinus.Match("b", 0));

    CMatch escapedRangeEnd("^[a-\\x]+$");  // range up to an escaped 'x'
    EXPECT_TRUE(escapedRangeEnd.Match("bwx", 0));
}

TEST(MatchTest, EndOfLineInsideClasses)
{
    CMatch notEol("^a[^$]*\\c");
    const char* text = "abc d\r\nx";
    ASSERT_TRUE(notEol.Match(text, 0));
    EXPECT_EQ(notEol.GetMarkPos(1), 5);
    CMatch eolClass("a[$]b");
    EXPECT_TRUE(eolClass.Match("a\nb", 0));
    EXPECT_FALSE(eolClass.Match("axb", 0));
}

TEST(MatchTest, IgnoreCaseAppliesAtEveryDepth)
{
    CMatch m("(x(ab|[c-d]+))", true);
    EXPECT_TRUE(m.Match("XAB", 0));
    EXPECT_TRUE(m.Match("XdC", 0));
    EXPECT_EQ(m.GetGroupAlternative(2), 1);
}

TEST(MatchTest, StreamFormMatchesAtThePositionOnly)
{
    std::string content = "#define A 1\r\n  #define BB 0x20 // x\nrest";
    CTempFile file(content);
    CSeekReader reader;
    ASSERT_TRUE(reader.Open(file.Path()));
    CMatch m("^[ \t]*#define[ \t]+\\c[A-Z]+\\c[ \t]+\\c[0-9a-fx]+\\c[ \t]*(//[^$]*$|$)");
    int64_t end = 0;
    ASSERT_TRUE(m.MatchAt(reader, 0, &end));
    EXPECT_EQ(end, 13);
    EXPECT_EQ(m.GetCapture(1, 2, reader), "A");
    ASSERT_TRUE(m.MatchAt(reader, end, &end));
    EXPECT_EQ(m.GetCapture(1, 2, reader), "BB");
    EXPECT_EQ(m.GetCapture(3, 4, reader), "0x20");
    EXPECT_EQ(m.GetGroupText(1, reader), "// x\n");
    EXPECT_EQ(end, static_cast<int64_t>(content.size()) - 4);
    EXPECT_FALSE(m.MatchAt(reader, end, &end));
    EXPECT_FALSE(m.MatchAt(reader, 1));  // '^' needs a line start
}

TEST(MatchTest, StreamFormTreatsNulAsAByte)
{
    const char bytes[] = {'/', '/', 'a', '\0', 'b', '\n'};
    CSeekReader reader;
    reader.Attach(bytes, sizeof bytes);
    CMatch m("^//[^$]*\\c$");
    int64_t end = 0;
    ASSERT_TRUE(m.MatchAt(reader, 0, &end));
    EXPECT_EQ(m.GetMarkPos(1), 5);
    EXPECT_EQ(end, 6);
}

TEST(MatchTest, StreamReaderCrossesItsWindow)
{
    // Lines long enough to need several reads of the reader's window.
    std::string content;
    for (int i = 0; i < 3000; ++i)
        content += "// line " + std::to_string(i) + std::string(40, 'x') + "\r\n";
    CTempFile file(content);
    CSeekReader reader;
    ASSERT_TRUE(reader.Open(file.Path()));
    CMatch m("^//[ \t]*line[ \t]+\\c[0-9]+\\c[^$]*$");
    int64_t pos = 0;
    for (int i = 0; i < 3000; ++i) {
        ASSERT_TRUE(m.MatchAt(reader, pos, &pos)) << i;
        ASSERT_EQ(m.GetCapture(1, 2, reader), std::to_string(i));
    }
    EXPECT_EQ(pos, reader.Size());
}

TEST(MatchTest, SeekReaderOpenFailure)
{
    CSeekReader reader;
    EXPECT_FALSE(reader.Open("/nonexistent/telvane.dec"));
    EXPECT_EQ(reader.At(0), -1);
}

}  // namespace
