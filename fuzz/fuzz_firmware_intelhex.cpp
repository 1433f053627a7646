// Intel HEX reader on arbitrary text, then the walk of what it loaded.

#include "firmware/HexFileMcs.h"
#include "fuzz_firmware_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CHexFile_mcs image;
    CMemoryStream stream(data, size);
    const bool loaded = image.LoadFrom(stream);
    Require(image.CharsRead() <= size);
    if (loaded) {
        CheckLoadedImage(image);
        CheckWalk(image, CHexFileRead_mcs::kGranule);
    } else {
        Require(!image.ErrorText().empty());
    }
    return 0;
}
