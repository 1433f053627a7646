// Fuzzes the catalogue reader with documents of many attributes: bytes
// 0x01 k expand to k * 256 distinct attributes, wherever the fuzzer puts
// them (an element, a comment, a value). A slow document is caught by the
// run's time-out.

#include "ExpandRuns.h"
#include "links/Divadiduv.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string xml = ExpandRuns(data, size, 4 << 20,
                                       [](size_t n) { return " a" + std::to_string(n) + "=\"" + std::to_string(n % 7) + "\""; });
    auto catalogue = ParseDivadiduvs(xml.data(), xml.size());
    if (catalogue && catalogue->GetSize() > 0 && catalogue->Find(-10, -1, -1) != 0)
        std::abort();
    return 0;
}
