// telvane-cli hex: loads a firmware image file and shows its blocks or
// chunks, or writes it out as a flat binary.

#include "base/NumberText.h"
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
struct HexOptions {
    std::string file;
    bool intel = false;
    bool align = false;
    uint32_t granule = 0;
    std::string binPath;
};

bool parseOptions(const Args& args, HexOptions& options)
{
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        if (a == "--intel") {
            options.intel = true;
        } else if (a == "--align") {
            options.align = true;
        } else if (a == "--walk" && i + 1 < args.size()) {
            int32_t g = ParseNumberText(args[++i]);
            if (g <= 0 || (g & (g - 1)) != 0) {
                std::fprintf(stderr, "telvane-cli hex: the granule must be a power of two\n");
                return false;
            }
            options.granule = static_cast<uint32_t>(g);
        } else if (a == "--bin" && i + 1 < args.size()) {
            options.binPath = args[++i];
        } else if (!a.empty() && a[0] != '-' && options.file.empty()) {
            options.file = a;
        } else {
            return false;
        }
    }
    if (options.align && !options.intel) {
        std::fprintf(stderr, "telvane-cli hex: --align pads Intel HEX images only (add --intel)\n");
        return false;
    }
    return !options.file.empty();
}

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
        std::printf("0x%08X %u\r\n", address, length);
}

// Writes the bytes from the start to the end address, gaps as 0xFF.
bool writeBinary(const CHexImage& image, const std::string& path)
{
    std::unique_ptr<FILE, int (*)(FILE*)> out(std::fopen(path.c_str(), "wb"), std::fclose);
    if (!out) {
        std::fprintf(stderr, "telvane-cli hex: cannot create %s: %s\n", path.c_str(), std::strerror(errno));
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
        std::fprintf(stderr, "telvane-cli hex: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
        return false;
    }
    return true;
}
}  // namespace

int runHex(const Args& args)
{
    HexOptions options;
    if (!parseOptions(args, options))
        return usageError(runHex);

    std::unique_ptr<CHexImage> image;
    if (options.intel)
        image = std::make_unique<CHexFile_mcs>();
    else
        image = std::make_unique<CHexFile>();
    if (!image->Load(options.file)) {
        std::fprintf(stderr, "%s\n", image->ErrorText().c_str());
        return 1;
    }
    if (options.align)
        static_cast<CHexFile_mcs&>(*image).AlignPages();

    std::printf("Hex File Start 0x%08X End 0x%08X\r\n", image->GetStart(), image->GetEnd());
    if (options.granule) {
        printWalk(*image, options.granule);
    } else {
        for (const auto& block : image->Blocks())
            std::printf("0x%08X %u\r\n", block.start, block.length());
    }
    if (!options.binPath.empty() && !writeBinary(*image, options.binPath))
        return 1;
    return 0;
}
