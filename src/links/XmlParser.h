#pragma once
// Reads an XML file and hands each element, depth first, to a callback that
// builds the objects standing for the elements.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// Base of every object a callback may return for an element.
class CXmlObject {
public:
    virtual ~CXmlObject() = default;
};

// One attribute of an element, in document order.
struct _XMLARG {
    std::string name;
    std::string value;
};

class CXmlParser {
public:
    // Files above this size are refused before parsing.
    static constexpr size_t kMaxFileSize = 16 * 1024 * 1024;
    // Documents with an element of more attributes than this are refused
    // before parsing; a crate has ten.
    static constexpr size_t kMaxAttributes = 64;

    // Called for each element with the object returned for its parent (null
    // for the root). Returns the object for the element, or null to skip the
    // element and everything inside it. An object returned for the root is
    // handed to the caller of Parse; any other object must already be owned
    // by its parent when it is returned.
    using ElementFn = std::function<CXmlObject*(CXmlObject* parent, const std::string& name,
                                                const std::vector<_XMLARG>& args)>;

    explicit CXmlParser(ElementFn onElement) : m_onElement(std::move(onElement)) {}

    // The object returned for the root element. Null when the file cannot be
    // read (last error from the file system), is too large, holds a character
    // reference outside Unicode or an element with too many attributes or is
    // not well-formed XML (error 11), or when the callback returned nothing
    // for the root (error 11).
    std::unique_ptr<CXmlObject> ParseFile(const std::string& path);
    // The same on text held in memory.
    std::unique_ptr<CXmlObject> ParseText(const char* text, size_t size);

private:
    ElementFn m_onElement;
};
