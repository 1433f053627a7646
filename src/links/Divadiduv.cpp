#include "links/Divadiduv.h"

#include "base/Error.h"
#include "base/TempFiles.h"
#include "web/HttpFetch.h"

#include <climits>
#include <cstdlib>
#include <optional>
#include <cstring>
#include <stdexcept>
#include <strings.h>
#include <unistd.h>

namespace {

bool EqualNoCase(const std::string& a, const char* b) { return strcasecmp(a.c_str(), b) == 0; }

// Index of value in texts (without regard to case), -1 when absent.
template <size_t N>
int IndexOf(const std::string& value, const char* const (&texts)[N])
{
    for (size_t i = 0; i < N; ++i) {
        if (EqualNoCase(value, texts[i]))
            return static_cast<int>(i);
    }
    return -1;
}

// A decimal number as the catalogue writes it; text after the digits is
// ignored, no digits read as 0, values beyond int are clamped.
int DecimalValue(const std::string& text)
{
    long long value = std::strtoll(text.c_str(), nullptr, 10);
    if (value > INT_MAX)
        return INT_MAX;
    if (value < INT_MIN)
        return INT_MIN;
    return static_cast<int>(value);
}

int SecondaryAddress(int sector, int ccbid)
{
    long long base = sector < 7 ? sector + 19 : sector + 23;
    long long address = base * 1000 + ccbid;
    if (address > INT_MAX)
        return INT_MAX;
    if (address < INT_MIN)
        return INT_MIN;
    return static_cast<int>(address);
}

bool StartsWithNoCase(const std::string& text, const char* prefix)
{
    return strncasecmp(text.c_str(), prefix, std::strlen(prefix)) == 0;
}

// The temporary copy of a downloaded catalogue, readable by its owner only
// and deleted however loading ends, a SIGINT or SIGTERM included.
class CTemporaryFile {
public:
    CTemporaryFile() = default;
    ~CTemporaryFile()
    {
        if (!m_path.empty())
            ::unlink(m_path.c_str());
    }
    CTemporaryFile(const CTemporaryFile&) = delete;
    CTemporaryFile& operator=(const CTemporaryFile&) = delete;

    bool Create()
    {
        const char* dir = std::getenv("TMPDIR");
        std::string name = std::string(dir && *dir ? dir : "/tmp") + "/DivadiduvListXXXXXX.xml";
        int fd = ::mkstemps(name.data(), 4);
        if (fd < 0) {
            SetLastErrFromErrno();
            return false;
        }
        m_guard.emplace(name);
        ::close(fd);
        m_path = name;
        return true;
    }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
    std::optional<CTempFileGuard> m_guard;
};

// Stops a download that grows past what the parser would accept anyway.
uint32_t LimitDownloadSize(int64_t, int64_t transferred, int64_t, int64_t, uint32_t, uint32_t,
                           const char*, const char*, void*)
{
    return transferred > static_cast<int64_t>(CXmlParser::kMaxFileSize) ? kProgressCancel : kProgressContinue;
}

// False with the last error 30 and, as its text, why the download failed.
bool DownloadCatalogue(const std::string& url, const std::string& path)
{
    std::string reason;
    try {
        CHttpFetch fetch;
        fetch.SetProgress(LimitDownloadSize, nullptr);
        if (!fetch.Open(url))
            reason = url + " answered status " + std::to_string(fetch.GetStatus());
        else if (fetch.Download(path))
            return true;
        else if (fetch.GetCount() > static_cast<int64_t>(CXmlParser::kMaxFileSize))
            reason = "The catalogue is longer than " + std::to_string(CXmlParser::kMaxFileSize) + " bytes";
        else
            reason = LastErrText();
    } catch (const CInternetException& e) {
        reason = e.what();
    }
    SetLastErr(err::CatalogueDownload, reason);
    return false;
}

CXmlObject* OnCatalogueElement(CXmlObject* parent, const std::string& name, const std::vector<_XMLARG>& args)
{
    if (!parent)
        return EqualNoCase(name, "Divadiduvs") ? new CDivadiduvs : nullptr;
    auto* catalogue = dynamic_cast<CDivadiduvs*>(parent);
    if (!catalogue || !EqualNoCase(name, "Divadiduv"))
        return nullptr;
    auto crate = std::make_unique<CDivadiduv>();
    for (const auto& arg : args) {
        if (!crate->SetAttribute(arg.name, arg.value))
            return nullptr;
    }
    CDivadiduv* added = crate.get();
    catalogue->Add(std::move(crate));
    return added;
}

std::unique_ptr<CDivadiduvs> AsCatalogue(std::unique_ptr<CXmlObject> root)
{
    if (!root)
        return nullptr;
    return std::unique_ptr<CDivadiduvs>(static_cast<CDivadiduvs*>(root.release()));
}

}  // namespace

bool CDivadiduv::SetAttribute(const std::string& name, const std::string& value)
{
    static const char* const kWheels[] = {"YB-2", "YB-1", "YB0", "YB+1", "YB+2"};
    static const char* const kSectors[] = {"S1", "S2", "S3", "S4",  "S5",  "S6",
                                           "S7", "S8", "S9", "S10", "S11", "S12"};
    static const char* const kTypes[] = {"MB1", "MB2", "MB3", "MB4", "MB5"};

    if (EqualNoCase(name, "wheel")) {
        if (int i = IndexOf(value, kWheels); i >= 0)
            wheel = i - 2;
    } else if (EqualNoCase(name, "sector")) {
        if (int i = IndexOf(value, kSectors); i >= 0)
            sector = i + 1;
    } else if (EqualNoCase(name, "type")) {
        if (int i = IndexOf(value, kTypes); i >= 0)
            type = i + 1;
    } else if (EqualNoCase(name, "pid")) {
        pid = DecimalValue(value);
    } else if (EqualNoCase(name, "ccbid")) {
        ccbid = DecimalValue(value);
        if (ccbid != 0)
            secondaryAddress = SecondaryAddress(sector, ccbid);
    } else if (EqualNoCase(name, "pid_port")) {
        pidPort = DecimalValue(value);
    } else if (EqualNoCase(name, "ccbid_port")) {
        ccbidPort = DecimalValue(value);
    } else if (EqualNoCase(name, "host")) {
        host = value;
    } else if (EqualNoCase(name, "proxy")) {
        proxy = value;
    } else {
        return false;
    }
    return true;
}

int CDivadiduvs::Find(int wheel, int sector, int type) const
{
    for (size_t i = 0; i < m_crates.size(); ++i) {
        const CDivadiduv& c = *m_crates[i];
        if ((wheel == -10 || c.wheel == wheel) && (sector == -1 || c.sector == sector) &&
            (type == -1 || c.type == type))
            return static_cast<int>(i);
    }
    return -1;
}

const CDivadiduv& CDivadiduvs::GetAt(int index) const
{
    if (index < 0 || index >= GetSize())
        throw std::out_of_range("crate index " + std::to_string(index) + " outside the catalogue");
    return *m_crates[index];
}

std::unique_ptr<CDivadiduvs> ParseDivadiduvs(const char* text, size_t size)
{
    return AsCatalogue(CXmlParser(OnCatalogueElement).ParseText(text, size));
}

std::unique_ptr<CDivadiduvs> LoadDivadiduvs(const std::string& location)
{
    if (location.empty()) {
        SetLastErr(err::NotFound);
        return nullptr;
    }
    if (StartsWithNoCase(location, "http://") || StartsWithNoCase(location, "https://")) {
        CTemporaryFile copy;
        if (!copy.Create()) {
            SetLastErr(err::CatalogueDownload);
            return nullptr;
        }
        if (!DownloadCatalogue(location, copy.Path()))
            return nullptr;
        return AsCatalogue(CXmlParser(OnCatalogueElement).ParseFile(copy.Path()));
    }
    return AsCatalogue(CXmlParser(OnCatalogueElement).ParseFile(location));
}
