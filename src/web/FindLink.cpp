#include "web/FindLink.h"

#include "base/Error.h"

#include <stdexcept>
#include <string_view>

namespace {

// Deletes every complete tag: a '<' followed by something other than '>',
// up to the next '>'. One pass gives what deleting the first match of
// \c<[^>]+>\c over and over gives: a '<' left in place is followed by '>'
// and cannot start a tag once a later tag is gone, and without a '>'
// further on no tag can follow at all.
void RemoveTags(std::string_view text, std::string& out)
{
    size_t pos = 0;
    for (;;) {
        size_t open = text.find('<', pos);
        if (open == std::string_view::npos || open + 1 >= text.size())
            break;
        if (text[open + 1] == '>') {
            out.append(text, pos, open + 1 - pos);
            pos = open + 1;
            continue;
        }
        size_t close = text.find('>', open + 2);
        if (close == std::string_view::npos)
            break;
        out.append(text, pos, open - pos);
        pos = close + 1;
    }
    out.append(text, pos);
}

// Replaces the five entities in one pass. Doing them one after the other
// gives the same: a replacement never forms or splits another entity.
std::string ReplaceEntities(std::string_view text)
{
    static const struct {
        std::string_view entity;
        char replacement;
    } kEntities[] = {{"&nbsp;", ' '}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&amp;", '&'}};
    std::string out;
    out.reserve(text.size());
    size_t pos = 0;
    for (size_t amp = text.find('&'); amp != std::string_view::npos; amp = text.find('&', pos)) {
        out.append(text, pos, amp - pos);
        pos = amp + 1;
        char replacement = '&';
        for (const auto& e : kEntities) {
            if (text.substr(amp, e.entity.size()) == e.entity) {
                replacement = e.replacement;
                pos = amp + e.entity.size();
                break;
            }
        }
        out += replacement;
    }
    out.append(text, pos);
    return out;
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
        std::string cleaned = CleanAnchorText(std::string_view(text + tagEnd, closeEnd - 4 - tagEnd));
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

std::string CleanAnchorText(std::string_view text)
{
    std::string withoutLineEnds;
    withoutLineEnds.reserve(text.size());
    for (char c : text) {
        if (c != '\r' && c != '\n')
            withoutLineEnds += c;
    }
    std::string withoutTags;
    withoutTags.reserve(withoutLineEnds.size());
    RemoveTags(withoutLineEnds, withoutTags);
    return ReplaceEntities(withoutTags);
}
