#pragma once
// The crate catalogue: every crate with its position (wheel, sector, crate
// type), its control-board identifiers and the crate server that reaches it.

#include "links/XmlParser.h"

#include <memory>
#include <string>
#include <vector>

// One crate.
class CDivadiduv : public CXmlObject {
public:
    int wheel = -10;  // -10: none
    int sector = -1;  // -1: none
    int type = 0;
    int pid = -1;
    int secondaryAddress = -1;
    int ccbid = 0;
    int pidPort = 0;
    int ccbidPort = 0;
    std::string host;
    std::string proxy;

    // Applies one attribute of the catalogue file (name without regard to
    // case). False for a name that is not a crate attribute. A value that
    // is not one of the known wheel, sector or type texts leaves the field
    // unchanged. A non-zero "ccbid" also sets the secondary address from the
    // sector read so far.
    bool SetAttribute(const std::string& name, const std::string& value);
};

// The catalogue: the crates in file order.
class CDivadiduvs : public CXmlObject {
public:
    // Index of the first crate at that position, -1 when none. A wheel of
    // -10, a sector of -1 or a type of -1 matches any.
    int Find(int wheel, int sector, int type) const;
    // The crate at index; throws std::out_of_range for an index outside the
    // catalogue.
    const CDivadiduv& GetAt(int index) const;
    int GetSize() const { return static_cast<int>(m_crates.size()); }
    void Add(std::unique_ptr<CDivadiduv> crate) { m_crates.push_back(std::move(crate)); }

private:
    std::vector<std::unique_ptr<CDivadiduv>> m_crates;
};

// Loads the catalogue from a local path or an http:// or https:// location.
// Null with the last error set: 2 for an empty location, 30 when the
// download fails, otherwise the error of reading or parsing the file.
std::unique_ptr<CDivadiduvs> LoadDivadiduvs(const std::string& location);

// Parses catalogue text held in memory (the file's content).
std::unique_ptr<CDivadiduvs> ParseDivadiduvs(const char* text, size_t size);
