#include "console/CommandRequest.h"

#include "base/Error.h"
#include "language/StructData.h"

#include <algorithm>

namespace {

void applyProperties(const SendProperties& properties, _MCDATA& request)
{
    request = _MCDATA{};
    request.tag = static_cast<uint16_t>(properties.tag);
    request.status = static_cast<int32_t>(properties.timeoutMs);
    request.waitReply = static_cast<int32_t>(properties.waitReply);
    request.direction = _MCDATA::kSent;
}

}  // namespace

bool BuildCommandRequest(const CStructData& command, const std::vector<std::string>& arguments,
                         const SendProperties& properties, _MCDATA& request)
{
    applyProperties(properties, request);
    std::vector<uint8_t> bytes;
    const auto code = static_cast<uint32_t>(command.Code());
    for (int shift = 24; shift >= 0; shift -= 8) {
        if (const auto b = static_cast<uint8_t>(code >> shift))
            bytes.push_back(b);
    }
    if (bytes.empty())
        bytes.push_back(0);
    const size_t codeBytes = bytes.size();
    bytes.resize(codeBytes + static_cast<size_t>(std::max(command.Size(), 0)), 0);
    if (bytes.size() > 255) {
        SetLastErr(err::BadParam);
        return false;
    }
    command.Encode(arguments, bytes.data() + codeBytes, bytes.size() - codeBytes);
    std::copy(bytes.begin(), bytes.end(), request.bytes);
    request.length = static_cast<uint8_t>(bytes.size());
    return true;
}

bool BuildRawRequest(const std::vector<uint8_t>& bytes, const SendProperties& properties, _MCDATA& request)
{
    applyProperties(properties, request);
    if (bytes.size() > 255) {
        SetLastErr(err::BadParam);
        return false;
    }
    std::copy(bytes.begin(), bytes.end(), request.bytes);
    request.length = static_cast<uint8_t>(bytes.size());
    return true;
}
