// telvane-cli hex: loads a firmware image file and shows its blocks or
// chunks, or writes it out as a flat binary.

#include "cli/Commands.h"
#include "firmware/HexFile.h"
#include "firmware/HexFileMcs.h"
#include "firmware/HexFileRead.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace {

void printWalk(const CHexImage& image, uint32_t granule)
{
    CHexFileRead walk;
    walk.Reset(&image);
    // A chunk never holds more than its block, whatever the granule.
    uint32_t longest = 1;
    for (const auto& block : image.Blocks())
        longest = std::max(longest, block.length());
    std::vector<uint8_t> chunk(std::min(granule, longest));
    uint32_t address, length;
    while (walk.GetNext(chunk.data(), address, length, granule))
        std::printf("0x%08X %u\n", address, length);
}

// Writes the bytes from the start to the end address, gaps as 0xFF.
bool writeBinary(const CHexImage& image, const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!out) {
        Fail("%s: cannot create: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    static const std::vector<uint8_t> gapFill(64 * 1024, 0xFF);
    uint64_t position = image.GetStart();
    for (const auto& block : image.Blocks()) {
        if (block.data.empty())
            continue;
        for (uint64_t gap = block.start - position; gap > 0;) {
            size_t n = static_cast<size_t>(std::min<uint64_t>(gap, gapFill.size()));
            if (std::fwrite(gapFill.data(), 1, n, out.get()) != n)
                break;
            gap -= n;
        }
        std::fwrite(block.data.data(), 1, block.data.size(), out.get());
        position = block.end();
    }
    if (std::ferror(out.get()) || std::fclose(out.release()) != 0) {
        Fail("%s: cannot write: %s", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}
int runHex(const CliArgs& args)
{
    const std::string& file = args.Operands().front();
    const bool intel = args.Has("--intel");
    if (args.Has("--align") && !intel)
        return UsageFail(kHexCommand, "--align pads Intel HEX images only (add --intel)");
    int64_t granule;
    if (!OptionNumber(args, "--walk", 1, int64_t{1} << 30, 0, granule))
        return kExitUsage;
    if (granule & (granule - 1))
        return UsageFail(kHexCommand, "--walk: the granule %lld is not a power of two", static_cast<long long>(granule));

    std::unique_ptr<CHexImage> image;
    if (intel)
        image = std::make_unique<CHexFile_mcs>();
    else
        image = std::make_unique<CHexFile>();
    if (!image->Load(InputPath(file)))
        return Fail("%s: %s", ShownPath(file).c_str(), image->ErrorText().c_str());
    if (args.Has("--align"))
        static_cast<CHexFile_mcs&>(*image).AlignPages();

    std::printf("Hex File Start 0x%08X End 0x%08X\n", image->GetStart(), image->GetEnd());
    if (granule) {
        printWalk(*image, static_cast<uint32_t>(granule));
    } else {
        for (const auto& block : image->Blocks())
            std::printf("0x%08X %u\n", block.start, block.length());
    }
    if (const std::string* bin = args.Value("--bin"); bin && !writeBinary(*image, *bin))
        return kExitFailed;
    return kExitOk;
}

}  // namespace

const CliCommand kHexCommand{
    .name = "hex",
    .operands = "FILE",
    .minOperands = 1,
    .maxOperands = 1,
    .summary = "Loads a firmware image (S-records, or Intel HEX; - for standard input) and lists its blocks.",
    .options =
        {
            {"--intel", nullptr, "the file is Intel HEX (default: S-records)"},
            {"--align", nullptr, "pad the Intel HEX image to whole pages"},
            {"--walk", "G", "list the chunks a flash write of granule G (a power of two) sends"},
            {"--bin", "OUT", "also write the image as a flat binary, gaps as 0xFF"},
        },
    .run = runHex,
};
