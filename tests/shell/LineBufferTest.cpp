#include "shell/LineBuffer.h"

#include <gtest/gtest.h>
#include <string>

namespace {

std::string Numbered(int from, int to)
{
    std::string text;
    for (int i = from; i <= to; ++i)
        text += "line " + std::to_string(i) + "\n";
    return text;
}

}  // namespace

TEST(OutLineBuffer, TextRules)
{
    struct Case {
        std::vector<std::string> appends;
        std::string text;
    } cases[] = {
        {{"abc\rX"}, "Xbc"},
        {{"abc", "\r", "X"}, "Xbc"},
        {{"ab\rwxyz"}, "wxyz"},
        {{"one\ntwo"}, "one\r\ntwo"},
        {{"one\r\ntwo\r\n"}, "one\r\ntwo\r\n"},
        {{"12%\r", "50%\r", "100%\n"}, "100%\r\n"},
        {{"\n\n"}, "\r\n\r\n"},
        {{""}, ""},
    };
    for (const auto& c : cases) {
        COutLineBuffer buffer;
        for (const auto& a : c.appends)
            buffer.Append(a);
        EXPECT_EQ(buffer.Text(), c.text) << testing::PrintToString(c.appends);
    }
}

TEST(OutLineBuffer, KeepsTheLastThousandCompleteLines)
{
    COutLineBuffer buffer;
    buffer.Append(Numbered(1, 1001));
    ASSERT_EQ(buffer.LineCount(), 1001u);  // 1000 complete lines and the open one
    EXPECT_EQ(buffer.Line(0), "line 2");
    EXPECT_EQ(buffer.Line(999), "line 1001");
    EXPECT_EQ(buffer.Line(1000), "");
    EXPECT_EQ(buffer.TotalDroppedLines(), 1u);
    std::string expected = Numbered(2, 1001);
    for (size_t at = expected.find('\n'); at != std::string::npos; at = expected.find('\n', at + 2))
        expected.insert(at, "\r");
    EXPECT_EQ(buffer.Text(), expected);
}

TEST(OutLineBuffer, ClearOnEmptyBoxLeavesItEmpty)
{
    COutLineBuffer buffer;
    buffer.Clear();
    EXPECT_EQ(buffer.Text(), "");
    EXPECT_EQ(buffer.LineCount(), 1u);
    buffer.Append("a\nb");
    buffer.Clear();
    EXPECT_EQ(buffer.Text(), "");
}

// A view that applies the changes as the output box does must always show
// the buffer's lines.
TEST(OutLineBuffer, ChangesReplayedOnAViewMatchTheBuffer)
{
    const std::vector<std::string> batches = {
        "first\n", "partial", " more\rOVER", "\n", Numbered(1, 7), "x\ry\rz", "\n\n", Numbered(8, 40), "tail",
    };
    COutLineBuffer buffer(10);
    std::vector<std::string> view{""};
    for (const auto& batch : batches) {
        buffer.Append(batch);
        _OUTCHANGES c = buffer.TakeChanges();
        view.erase(view.begin(), view.begin() + static_cast<std::ptrdiff_t>(std::min(c.droppedLines, view.size())));
        ASSERT_LE(c.keptLines, view.size()) << batch;
        view.resize(c.keptLines);
        view.insert(view.end(), c.lines.begin(), c.lines.end());
        ASSERT_EQ(view.size(), buffer.LineCount()) << batch;
        for (size_t i = 0; i < view.size(); ++i)
            EXPECT_EQ(view[i], buffer.Line(i)) << batch << " line " << i;
    }
}

TEST(OutLineBuffer, ChangesNameOnlyWhatMoved)
{
    COutLineBuffer buffer(3);
    buffer.Append("a\nb\nc");
    buffer.TakeChanges();

    buffer.Append("d");  // only the open line changes
    _OUTCHANGES c = buffer.TakeChanges();
    EXPECT_EQ(c.droppedLines, 0u);
    EXPECT_EQ(c.keptLines, 2u);
    EXPECT_EQ(c.lines, std::vector<std::string>{"cd"});

    buffer.Append("\n\n");  // four complete lines: "a" drops
    c = buffer.TakeChanges();
    EXPECT_EQ(c.droppedLines, 1u);
    EXPECT_EQ(c.keptLines, 2u);
    EXPECT_EQ(c.lines, (std::vector<std::string>{"", ""}));

    c = buffer.TakeChanges();
    EXPECT_FALSE(c.Any());
}
