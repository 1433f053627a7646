#include "firmware/FirmImage.h"

#include "base/NumberText.h"
#include "language/Match.h"
#include "web/FindLink.h"
#include "web/HttpFetch.h"

#include <cctype>

namespace {

constexpr uint32_t kFlashStart = 0x80000;
constexpr uint32_t kFlashEnd = 0xC0000;
constexpr uint32_t kRamEnd = 0x80000;
constexpr uint32_t kFpgaFlashStart = 0xC00000;
// Commands carry 24-bit addresses: nothing may reach past them.
constexpr uint64_t kAddressLimit = 0x1000000;

std::string Format(const char* format, const std::string& text)
{
    char line[1024];
    std::snprintf(line, sizeof line, format, text.c_str());
    return line;
}

bool IsAbsoluteUrl(const std::string& href)
{
    const size_t colon = href.find("://");
    if (colon == std::string::npos || colon == 0 || !std::isalpha(static_cast<unsigned char>(href[0])))
        return false;
    for (size_t i = 1; i < colon; ++i) {
        const unsigned char c = static_cast<unsigned char>(href[i]);
        if (!std::isalnum(c) && c != '+' && c != '-' && c != '.')
            return false;
    }
    return true;
}

}  // namespace

long CHashStream::Read(void* buffer, size_t size)
{
    const long n = m_source.Read(buffer, size);
    if (n > 0) {
        m_sha.Update(buffer, static_cast<size_t>(n));
        m_bytes += static_cast<uint64_t>(n);
    }
    return n;
}

bool LoadImageFile(const std::string& path, int32_t firmType, CHexFile& image, CFirmProgress& row, CEvent& abort,
                   FirmImageOrigin& origin)
{
    CFileStream file;
    if (!file.Open(path)) {
        row.SetState(Format("FAIL: Open File %s", path), 0, 0, nullptr, &abort);
        return false;
    }
    const int64_t size = file.Size();
    image.Clear();
    image.SetAbortEvent(&abort);
    row.SetState(Format("Reading %s", path), 0, size > 0 ? static_cast<uint32_t>(size) : 0,
                 &image.CharsReadCounter(), &abort);
    CHashStream stream(file);
    const bool loaded =
        firmType == kFirmFpgaFlash ? image.LoadRaw(stream, kFpgaFlashStart) : image.LoadFrom(stream);
    image.SetAbortEvent(nullptr);
    if (!loaded) {
        row.SetState(Format("FAIL: %s", image.ErrorText()), 0, 0, nullptr, &abort);
        return false;
    }
    origin = {path, stream.Bytes(), stream.Sha256Hex()};
    return true;
}

bool LookupWebImage(CFirmHost& host, int32_t firmType, CHexFile& image, CFirmProgress& row, CStdOut& output,
                    CEvent& abort, uint32_t& fileVersion, FirmImageOrigin& origin)
{
    const std::string page = host.AppValue(kKeyHtmlPage, kDefaultHtmlPage);
    const std::string pattern = firmType == kFirmRam ? host.AppValue(kKeyLinkRegExpRam, kDefaultLinkRegExpRam)
                                                     : host.AppValue(kKeyLinkRegExp, kDefaultLinkRegExp);
    CHttpFetch fetch;
    if (!fetch.Open(page)) {
        row.SetState("FAIL: HTML Page not found", 0, 0, nullptr, &abort);
        return false;
    }
    row.SetState(Format("Searching File On %s", page), 0, 0, nullptr, &abort);
    const std::string text = fetch.ReadAll();
    std::string href, linkText;
    CMatch match;
    if (!FindLink(text.c_str(), pattern.c_str(), true, href, match, linkText)) {
        row.SetState("FAIL: Link not found", 0, 0, nullptr, &abort);
        return false;
    }
    const auto major = static_cast<uint16_t>(ParseNumberText(match.GetCapture(1, 2, linkText.c_str())));
    const auto minor = static_cast<uint16_t>(ParseNumberText(match.GetCapture(3, 4, linkText.c_str())));
    fileVersion = (uint32_t{major} << 16) | minor;

    const std::string fileUrl = FileUrlFor(page, href);
    if (!fetch.Open(fileUrl)) {
        row.SetState("FAIL: File not found", 0, 0, nullptr, &abort);
        return false;
    }
    const int64_t length = fetch.GetContentLength();
    image.Clear();
    row.SetState(Format("Reading %s", fileUrl), 0, length > 0 ? static_cast<uint32_t>(length) : 0,
                 &image.CharsReadCounter(), &abort);
    output.Print("Reading %s\n", fileUrl.c_str());
    image.SetAbortEvent(&abort);
    CHashStream stream(*fetch.GetFile());
    const bool loaded = image.LoadFrom(stream);
    image.SetAbortEvent(nullptr);
    if (!loaded) {
        row.SetState(Format("FAIL: %s", image.ErrorText()), 0, 0, nullptr, &abort);
        return false;
    }
    fetch.Close();
    origin = {fileUrl, stream.Bytes(), stream.Sha256Hex()};
    return true;
}

std::string FileUrlFor(const std::string& pageUrl, const std::string& href)
{
    if (IsAbsoluteUrl(href))
        return href;
    const size_t slash = pageUrl.rfind('/');
    return (slash == std::string::npos ? std::string() : pageUrl.substr(0, slash)) + "/" + href;
}

const char* CheckImageAddresses(int32_t firmType, const CHexImage& image)
{
    const uint32_t start = image.GetStart();
    const uint64_t end = image.Blocks().empty() ? 0 : image.Blocks().back().end();
    switch (firmType) {
    case kFirmFlash:
        if (((start >= kFlashStart && end <= kFlashEnd) || start >= kFpgaFlashStart) && end <= kAddressLimit)
            return nullptr;
        return "FAIL: Invalid Flash address on file";
    case kFirmRam:
        return end <= kRamEnd ? nullptr : "FAIL: Invalid Ram address on file";
    default:
        return start >= kFpgaFlashStart && end <= kAddressLimit ? nullptr : "FAIL: Invalid Flash address on file";
    }
}

uint32_t ImageDataBytes(const CHexImage& image)
{
    uint32_t size = 0;
    for (const auto& block : image.Blocks())
        size += block.length();
    return size;
}
