// Fuzzes the cleaning of anchor texts with large inputs (run with
// -max_len=1048576): the one-pass cleaning must give what the step-by-step
// cleaning gives, on short texts, and stay linear on long ones (the run's
// time-out catches a slow input). Bytes 0x01 k expand to k * 256 tags.

#include "ExpandRuns.h"
#include "language/Match.h"
#include "web/FindLink.h"
#include "web/LinkTextReference.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const char* const kPieces[] = {"<b>", "<", "&lt;", "&amp;", ">", "<i", "x"};
    std::string text = ExpandRuns(data, size, 1 << 20, [](size_t n) { return kPieces[n % 7]; });
    // Anchor texts come from a NUL-terminated page.
    std::replace(text.begin(), text.end(), '\0', ' ');

    std::string cleaned = CleanAnchorText(text);
    if (cleaned.size() > text.size() || cleaned.find_first_of("\r\n") != std::string::npos)
        __builtin_trap();
    if (text.size() <= 4096 && cleaned != linktext::CleanStepByStep(text))
        __builtin_trap();

    // The same through the link search, which finds the anchor first.
    const std::string page = "<a href=\"x\">" + text + "</a>";
    std::string href, linkText;
    CMatch match;
    if (text.find("</a>") == std::string::npos && text.find("</A>") == std::string::npos) {
        if (!FindLink(page.c_str(), "^", false, href, match, linkText) || linkText != cleaned)
            __builtin_trap();
    }
    return 0;
}
