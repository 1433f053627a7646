// S-record reader on arbitrary text, then the walk of what it loaded.

#include "firmware/HexFile.h"
#include "fuzz_firmware_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    CHexFile image;
    CMemoryStream stream(data, size);
    const bool loaded = image.LoadFrom(stream);
    Require(image.CharsRead() <= size);
    if (loaded) {
        CheckLoadedImage(image);
        CheckWalk(image, 256);
    } else {
        Require(!image.ErrorText().empty());
    }
    return 0;
}
