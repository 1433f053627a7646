#pragma once
// The cleaning of anchor texts as the link search describes it, step by
// step: line ends out, the first tag deleted while there is one, the
// entities one after the other. Quadratic, for short texts only: the
// reference the one-pass cleaning is held to by tests and the fuzzer.

#include "language/Match.h"

#include <algorithm>
#include <string>

namespace linktext {

inline void ReplaceEach(std::string& text, const std::string& from, const std::string& to)
{
    for (size_t pos = text.find(from); pos != std::string::npos; pos = text.find(from, pos + to.size()))
        text.replace(pos, from.size(), to);
}

inline std::string CleanStepByStep(std::string text)
{
    std::erase(text, '\r');
    std::erase(text, '\n');
    CMatch tag("\\c<[^>]+>\\c", false);
    while (!text.empty() && tag.Match(text.c_str(), 0))
        text.erase(static_cast<size_t>(tag.GetMarkPos(1)), static_cast<size_t>(tag.GetMarkPos(2) - tag.GetMarkPos(1)));
    ReplaceEach(text, "&nbsp;", " ");
    ReplaceEach(text, "&lt;", "<");
    ReplaceEach(text, "&gt;", ">");
    ReplaceEach(text, "&quot;", "\"");
    ReplaceEach(text, "&amp;", "&");
    return text;
}

}  // namespace linktext
