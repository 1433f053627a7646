#include "web/FindLink.h"

#include "base/Error.h"

#include <stdexcept>

namespace {

void ReplaceAll(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

std::string CleanAnchorText(std::string text)
{
    std::erase(text, '\r');
    std::erase(text, '\n');
    CMatch tag("\\c<[^>]+>\\c", false);
    // Nothing before a removed tag can start a tag afterwards, so the search
    // goes on from where the tag was.
    int64_t start = 0;
    while (tag.Match(text.c_str(), static_cast<int>(start))) {
        start = tag.GetMarkPos(1);
        int64_t end = tag.GetMarkPos(2);
        text.erase(static_cast<size_t>(start), static_cast<size_t>(end - start));
    }
    ReplaceAll(text, "&nbsp;", " ");
    ReplaceAll(text, "&lt;", "<");
    ReplaceAll(text, "&gt;", ">");
    ReplaceAll(text, "&quot;", "\"");
    ReplaceAll(text, "&amp;", "&");
    return text;
}

bool CompileLinkPattern(CMatch& match, const char* linkPattern, bool ignoreCase)
{
    try {
        // An empty pattern compiles but can never be matched.
        return linkPattern && match.Compile(linkPattern, ignoreCase) && !match.Items().items.empty();
    } catch (const std::invalid_argument&) {
        return false;
    }
}

bool FindAnchor(const char* text, CMatch& match, std::string& href, std::string& linkText)
{
    CMatch anchor("<[ \t]*a[ \t]+href[ \t]*=[ \t]*\"\\c[^\"]+\\c\"[ \t]*>", true);
    CMatch anchorEnd("</a>", true);
    int pos = 0;
    for (;;) {
        int tagEnd = 0;
        if (!anchor.Match(text, pos, &tagEnd))
            break;
        std::string target = anchor.GetCapture(1, 2, text);
        int closeEnd = 0;
        if (!anchorEnd.Match(text, tagEnd, &closeEnd))
            break;
        pos = closeEnd;
        std::string cleaned = CleanAnchorText(std::string(text + tagEnd, text + closeEnd - 4));
        if (match.Match(cleaned.c_str(), 0)) {
            href = std::move(target);
            linkText = std::move(cleaned);
            return true;
        }
    }
    SetLastErr(err::NotFound);
    return false;
}

}  // namespace

bool FindLink(const char* text, const char* linkPattern, bool ignoreCase, std::string& href, CMatch& match,
              std::string& linkText)
{
    if (!text || !CompileLinkPattern(match, linkPattern, ignoreCase)) {
        SetLastErr(err::BadParam);
        return false;
    }
    try {
        return FindAnchor(text, match, href, linkText);
    } catch (const std::invalid_argument&) {
        SetLastErr(err::BadParam);
        return false;
    }
}
