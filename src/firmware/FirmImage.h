#pragma once
// Getting the image of an update: from a file (S-records, or raw bytes for
// an FPGA flash) or from the firmware release page, then the address check.
// Runs on the coordinator thread; reading waits on the transfer (the
// fetcher's own time-outs) and stops when the abort event is set.

#include "base/ByteStream.h"
#include "base/Event.h"
#include "base/Sha256.h"
#include "base/StdOut.h"
#include "firmware/FirmProgress.h"
#include "firmware/FirmSettings.h"
#include "firmware/HexFile.h"

#include <cstdint>
#include <string>

// Counts and hashes the bytes read through it.
class CHashStream : public CByteStream {
public:
    explicit CHashStream(CByteStream& source) : m_source(source) {}
    long Read(void* buffer, size_t size) override;

    uint64_t Bytes() const { return m_bytes; }
    std::string Sha256Hex() { return CSha256::Hex(m_sha.Final()); }

private:
    CByteStream& m_source;
    CSha256 m_sha;
    uint64_t m_bytes = 0;
};

// What the operator may compare with the release notes.
struct FirmImageOrigin {
    std::string source;  // path or URL
    uint64_t bytes = 0;
    std::string sha256;
};

// Loads the image of "FirmwareFile" for the type. Row 0 shows the reading;
// false with row 0 set to the failure text.
bool LoadImageFile(const std::string& path, int32_t firmType, CHexFile& image, CFirmProgress& row, CEvent& abort,
                   FirmImageOrigin& origin);

// Looks the image up on the release page named by the host's "HTML_Page"
// and loads it; fileVersion gets major << 16 | minor of the link text.
// False with row 0 set to the failure text. Throws CInternetException for
// failures of the internet client itself.
bool LookupWebImage(CFirmHost& host, int32_t firmType, CHexFile& image, CFirmProgress& row, CStdOut& output,
                    CEvent& abort, uint32_t& fileVersion, FirmImageOrigin& origin);

// The address of the file a link points to: an absolute URL as it stands,
// else the page's URL up to its last "/", then "/" and the link.
std::string FileUrlFor(const std::string& pageUrl, const std::string& href);

// Null when the image fits the memory of the type, else row 0's failure text.
const char* CheckImageAddresses(int32_t firmType, const CHexImage& image);

// Sum of the block lengths.
uint32_t ImageDataBytes(const CHexImage& image);
