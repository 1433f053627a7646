// Fuzzes the crate catalogue reader with arbitrary documents.

#include "links/Divadiduv.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto catalogue = ParseDivadiduvs(reinterpret_cast<const char*>(data), size);
    if (!catalogue)
        return 0;
    // Every index Find gives must be one GetAt accepts.
    const int positions[][3] = {{-10, -1, -1}, {1, 4, 2}, {-2, 12, 5}, {0, -1, -1}, {-10, 7, -1}};
    for (const auto& p : positions) {
        int index = catalogue->Find(p[0], p[1], p[2]);
        if (index >= catalogue->GetSize())
            std::abort();
        if (index >= 0 && catalogue->GetAt(index).host.size() > size)
            std::abort();
    }
    return 0;
}
