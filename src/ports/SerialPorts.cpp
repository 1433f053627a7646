#include "ports/SerialPorts.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {
std::string readTrimmed(const fs::path& file)
{
    std::ifstream in(file);
    std::string text;
    std::getline(in, text);
    while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())))
        text.pop_back();
    return text;
}

// Built-in UART slots with no chip behind them report type 0.
bool isBackedByHardware(const fs::path& ttyDir)
{
    std::error_code ec;
    if (!fs::exists(ttyDir / "device", ec))
        return false;
    return !fs::exists(ttyDir / "type", ec) || readTrimmed(ttyDir / "type") != "0";
}

std::string byIdName(const std::string& port, const std::string& byIdDir)
{
    std::error_code ec;
    for (fs::directory_iterator it(byIdDir, ec), end; !ec && it != end; it.increment(ec)) {
        fs::path target = fs::read_symlink(it->path(), ec);
        if (!ec && target.filename() == port)
            return it->path().filename().string();
        ec.clear();
    }
    return {};
}

// The product string of the USB device the tty hangs under, if any.
std::string usbProduct(const fs::path& ttyDir)
{
    std::error_code ec;
    fs::path dir = fs::canonical(ttyDir / "device", ec);
    for (int up = 0; !ec && up < 4 && !dir.empty() && dir != dir.root_path(); ++up, dir = dir.parent_path()) {
        if (fs::exists(dir / "product", ec))
            return readTrimmed(dir / "product");
    }
    return {};
}

// ttyS2 before ttyS10.
bool naturalLess(const std::string& a, const std::string& b)
{
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
            size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            std::string_view da(a.data() + i, ei - i), db(b.data() + j, ej - j);
            while (da.size() > 1 && da.front() == '0')
                da.remove_prefix(1);
            while (db.size() > 1 && db.front() == '0')
                db.remove_prefix(1);
            if (da.size() != db.size())
                return da.size() < db.size();
            if (da != db)
                return da < db;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return a[i] < b[j];
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}
}  // namespace

bool EnumSerialPorts(std::vector<std::string>& portNames, std::vector<std::string>& friendlyNames,
                     const std::string& ttyClassDir, const std::string& byIdDir)
{
    portNames.clear();
    friendlyNames.clear();
    std::vector<std::string> found;
    std::error_code ec;
    for (fs::directory_iterator it(ttyClassDir, ec), end; !ec && it != end; it.increment(ec))
        if (isBackedByHardware(it->path()))
            found.push_back(it->path().filename().string());
    std::sort(found.begin(), found.end(), naturalLess);
    for (const std::string& port : found) {
        std::string friendly = byIdName(port, byIdDir);
        if (friendly.empty())
            friendly = usbProduct(fs::path(ttyClassDir) / port);
        if (friendly.empty())
            friendly = "Serial port (" + port + ")";
        portNames.push_back(port);
        friendlyNames.push_back(friendly);
    }
    return !portNames.empty();
}
