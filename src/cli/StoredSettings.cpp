#include "cli/StoredSettings.h"

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace {

std::string Trim(const std::string& s)
{
    const size_t a = s.find_first_not_of(" \t\r");
    if (a == std::string::npos)
        return std::string();
    return s.substr(a, s.find_last_not_of(" \t\r") - a + 1);
}

void AppendUtf8(std::string& out, unsigned code)
{
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

}  // namespace

std::string StoredSettingsPath()
{
    const char* config = std::getenv("XDG_CONFIG_HOME");
    std::string base;
    if (config && *config) {
        base = config;
    } else {
        const char* home = std::getenv("HOME");
        base = std::string(home ? home : ".") + "/.config";
    }
    return base + "/Belmora/Telvane.ini";
}

std::string UnescapeStoredValue(const std::string& raw)
{
    std::string text = raw.rfind("@@", 0) == 0 ? raw.substr(1) : raw;
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"')
            continue;
        if (c != '\\' || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const char e = text[++i];
        switch (e) {
        case 't': out += '\t'; break;
        case 'n': out += '\n'; break;
        case 'r': out += '\r'; break;
        case '0': out += '\0'; break;
        case 'x': {
            unsigned code = 0;
            size_t digits = 0;
            while (i + 1 < text.size() && digits < 4 && std::isxdigit(static_cast<unsigned char>(text[i + 1]))) {
                code = code * 16 + static_cast<unsigned>(std::stoi(std::string(1, text[++i]), nullptr, 16));
                ++digits;
            }
            AppendUtf8(out, code);
            break;
        }
        default: out += e; break;
        }
    }
    return out;
}

std::optional<std::string> StoredAppValue(const std::string& key)
{
    std::ifstream file(StoredSettingsPath());
    std::string line;
    bool inGroup = false;
    while (std::getline(file, line)) {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';')
            continue;
        if (t.front() == '[') {
            inGroup = t == "[Workspace]";
            continue;
        }
        const size_t eq = t.find('=');
        if (inGroup && eq != std::string::npos && Trim(t.substr(0, eq)) == key)
            return UnescapeStoredValue(Trim(t.substr(eq + 1)));
    }
    return std::nullopt;
}
