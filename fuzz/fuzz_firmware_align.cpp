// Page filling and the chunk walk. The first byte picks the walk's
// granule, the rest is Intel HEX text; filling also runs after a failed
// load, whose blocks may overlap.

#include "firmware/HexFileMcs.h"
#include "fuzz_firmware_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint32_t granule = 1u << (data[0] % 13);
    CHexFile_mcs image;
    CMemoryStream stream(data + 1, size - 1);
    const bool loaded = image.LoadFrom(stream);

    uint64_t before = 0;
    for (const auto& b : image.Blocks())
        before += b.data.size();
    const size_t blocksBefore = image.Blocks().size();
    image.AlignPages();
    uint64_t after = 0;
    for (const auto& b : image.Blocks())
        after += b.data.size();
    // Filling never adds more than a page before and after each block.
    Require(after <= before + 2 * CHexFile_mcs::kPageSize * blocksBefore);
    if (!loaded)
        return 0;

    CheckLoadedImage(image);
    for (const auto& b : image.Blocks()) {
        if (b.start < CHexFile_mcs::kAlignLimit) {
            Require(b.start % CHexFile_mcs::kPageSize == 0);
            Require(b.data.size() % CHexFile_mcs::kPageSize == 0);
        }
    }
    CheckWalk(image, granule);
    return 0;
}
