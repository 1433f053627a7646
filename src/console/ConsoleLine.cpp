#include "console/ConsoleLine.h"

#include "base/ByteText.h"
#include "base/NumberText.h"
#include "language/ArgumentCheck.h"
#include "language/StructData.h"
#include "links/PortMCFrame.h"

#include <cctype>
#include <climits>
#include <strings.h>

namespace {

bool splitWords(std::string_view line, std::vector<std::string>& words, std::string& error)
{
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && std::isspace(static_cast<unsigned char>(line[i])))
            ++i;
        if (i == line.size())
            break;
        std::string word;
        while (i < line.size() && !std::isspace(static_cast<unsigned char>(line[i]))) {
            if (line[i] != '"') {
                word += line[i++];
                continue;
            }
            const size_t close = line.find('"', i + 1);
            if (close == std::string_view::npos) {
                error = "a quote is not closed";
                return false;
            }
            word.append(line.substr(i + 1, close - i - 1));
            i = close + 1;
        }
        words.push_back(std::move(word));
    }
    return true;
}

}  // namespace

bool ParseConsoleLine(std::string_view line, const CStructList* commands, const SendProperties& defaults,
                      ConsoleLine& out, std::string& error)
{
    out = ConsoleLine{};
    std::vector<std::string> all;
    if (!splitWords(line, all, error))
        return false;
    if (all.empty() || all[0][0] == '#')
        return true;

    SendProperties properties = defaults;
    std::vector<std::string> words;
    for (size_t i = 0; i < all.size(); ++i) {
        const std::string& w = all[i];
        if (w == "--wait") {
            properties.waitReply = 1;
        } else if (w == "--nowait") {
            properties.waitReply = 0;
        } else if (w == "--timeout") {
            int64_t ms;
            if (i + 1 == all.size() || !ParseStrictNumber(all[i + 1], ms) || ms < 0 || ms > INT32_MAX) {
                error = "--timeout needs a number of milliseconds";
                return false;
            }
            properties.timeoutMs = static_cast<uint32_t>(ms);
            ++i;
        } else if (w.size() > 2 && w.compare(0, 2, "--") == 0) {
            error = "unknown option " + w;
            return false;
        } else {
            words.push_back(w);
        }
    }
    if (words.empty()) {
        error = "no command";
        return false;
    }

    const std::string& name = words[0];
    const std::vector<std::string> arguments(words.begin() + 1, words.end());
    if (strcasecmp(name.c_str(), "raw") == 0) {
        std::vector<uint8_t> bytes;
        std::string bad;
        if (!ParseByteWords(arguments, bytes, bad)) {
            error = "raw: '" + bad + "' is not a hexadecimal byte";
            return false;
        }
        if (bytes.empty()) {
            error = "raw: no bytes";
            return false;
        }
        BuildRawRequest(bytes, properties, out.request);
    } else {
        const CStructData* command = commands ? FindCommandNamed(*commands, name) : nullptr;
        if (!command) {
            error = "unknown command '" + name + "'" + (commands ? "" : " (no command file; raw bytes only)");
            return false;
        }
        if (!CheckArguments(*command, arguments, error))
            return false;
        if (!BuildCommandRequest(*command, arguments, properties, out.request)) {
            error = command->Name() + ": the request is longer than a frame holds";
            return false;
        }
    }
    // The link takes at most this much, the reply header included.
    const int frame = out.request.length + (properties.waitReply ? 2 : 0);
    if (frame > mcframe::kMaxPayload) {
        error = "the request of " + std::to_string(frame) + " bytes is longer than " +
                std::to_string(mcframe::kMaxPayload);
        return false;
    }
    out.empty = false;
    return true;
}
