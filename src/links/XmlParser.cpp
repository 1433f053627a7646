#include "links/XmlParser.h"

#include "base/ByteStream.h"
#include "base/Error.h"

#include <algorithm>
#include <string_view>
#include <tinyxml2.h>

namespace {

// The tinyxml2 of the distribution mishandles numeric character references
// whose value overflows (huge "&#x...;" runs), so any reference beyond the
// Unicode range is refused before the library sees it.
bool HasCharacterReferenceOutsideUnicode(const char* text, size_t size)
{
    const char* end = text + size;
    for (const char* p = text; p + 2 < end; ++p) {
        if (p[0] != '&' || p[1] != '#')
            continue;
        const char* q = p + 2;
        int base = 10;
        if (q < end && (*q == 'x' || *q == 'X')) {
            base = 16;
            ++q;
        }
        unsigned long value = 0;
        for (; q < end; ++q) {
            int digit;
            if (*q >= '0' && *q <= '9')
                digit = *q - '0';
            else if (base == 16 && *q >= 'a' && *q <= 'f')
                digit = *q - 'a' + 10;
            else if (base == 16 && *q >= 'A' && *q <= 'F')
                digit = *q - 'A' + 10;
            else
                break;
            value = value * base + digit;
            if (value > 0x10FFFF)
                return true;
        }
    }
    return false;
}

// Whether some tag holds more attributes than limit. The parser checks each
// new attribute against all before it, so one element with many attributes
// costs time with the square of their number; counting them first takes
// one pass. Markup is cut as the parser cuts it: declarations, comments,
// CDATA sections and other "<!" markup are passed over to their ends, and
// in a tag every '=' outside a quoted value starts a value.
bool HasTagWithMoreAttributesThan(const char* text, size_t size, size_t limit)
{
    const std::string_view doc(text, size);
    auto endOf = [&](size_t from, std::string_view end) {
        size_t found = doc.find(end, from);
        return found == std::string_view::npos ? found : found + end.size();
    };
    size_t pos = 0;
    while ((pos = doc.find('<', pos)) != std::string_view::npos) {
        std::string_view rest = doc.substr(pos);
        if (rest.starts_with("<?")) {
            pos = endOf(pos + 2, "?>");
        } else if (rest.starts_with("<!--")) {
            pos = endOf(pos + 4, "-->");
        } else if (rest.starts_with("<![CDATA[")) {
            pos = endOf(pos + 9, "]]>");
        } else if (rest.starts_with("<!")) {
            pos = endOf(pos + 2, ">");
        } else {
            size_t attributes = 0;
            for (++pos; pos < size && doc[pos] != '>'; ++pos) {
                if (doc[pos] == '"' || doc[pos] == '\'') {
                    pos = doc.find(doc[pos], pos + 1);
                    if (pos == std::string_view::npos)
                        return false;
                } else if (doc[pos] == '=' && ++attributes > limit) {
                    return true;
                }
            }
        }
        if (pos == std::string_view::npos)
            return false;
    }
    return false;
}

struct PendingElement {
    const tinyxml2::XMLElement* element;
    CXmlObject* parent;
};

}  // namespace

std::unique_ptr<CXmlObject> CXmlParser::ParseFile(const std::string& path)
{
    CFileStream file;
    if (!file.Open(path))
        return nullptr;
    // Read one byte past the limit so that devices and pipes, whose size is
    // unknown, are refused as well.
    std::vector<char> text;
    char piece[65536];
    for (;;) {
        long n = file.Read(piece, sizeof piece);
        if (n < 0)
            return nullptr;
        if (n == 0)
            break;
        text.insert(text.end(), piece, piece + n);
        if (text.size() > kMaxFileSize) {
            SetLastErr(err::BadFormat);
            return nullptr;
        }
    }
    return ParseText(text.data(), text.size());
}

std::unique_ptr<CXmlObject> CXmlParser::ParseText(const char* text, size_t size)
{
    if (size > kMaxFileSize || HasCharacterReferenceOutsideUnicode(text, size) ||
        HasTagWithMoreAttributesThan(text, size, kMaxAttributes)) {
        SetLastErr(err::BadFormat);
        return nullptr;
    }
    tinyxml2::XMLDocument document;
    if (document.Parse(text, size) != tinyxml2::XML_SUCCESS || !document.RootElement()) {
        SetLastErr(err::BadFormat);
        return nullptr;
    }

    // Depth first, children in document order; the explicit stack keeps deep
    // documents off the call stack.
    std::unique_ptr<CXmlObject> root;
    std::vector<PendingElement> pending{{document.RootElement(), nullptr}};
    while (!pending.empty()) {
        PendingElement current = pending.back();
        pending.pop_back();
        std::vector<_XMLARG> args;
        for (const tinyxml2::XMLAttribute* a = current.element->FirstAttribute(); a; a = a->Next())
            args.push_back({a->Name(), a->Value()});
        CXmlObject* object = m_onElement(current.parent, current.element->Name(), args);
        if (!object)
            continue;
        if (!current.parent)
            root.reset(object);
        size_t firstChild = pending.size();
        for (const tinyxml2::XMLElement* child = current.element->FirstChildElement(); child;
             child = child->NextSiblingElement())
            pending.push_back({child, object});
        std::reverse(pending.begin() + firstChild, pending.end());
    }
    if (!root) {
        SetLastErr(err::BadFormat);
        return nullptr;
    }
    return root;
}
