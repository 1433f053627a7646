#pragma once
// Finds the first anchor of an HTML page whose visible text matches a
// pattern, and gives back its target and the pattern's captures.

#include "language/Match.h"

#include <string>
#include <string_view>

// Anchors are tried in page order. An anchor's text is cleaned before the
// match: CR and LF removed, tags removed, "&nbsp;", "&lt;", "&gt;", "&quot;"
// and "&amp;" replaced in that order. On a match: true, href holds the
// anchor's target, match holds linkPattern compiled with ignoreCase and
// matched on the cleaned text, which goes to linkText (the text its
// captures refer to). False with the last error 2 when no anchor matches,
// 87 when linkPattern does not compile or cannot be matched.
bool FindLink(const char* text, const char* linkPattern, bool ignoreCase, std::string& href, CMatch& match,
              std::string& linkText);

// The text of an anchor as it is matched: CR and LF removed, then every
// complete tag (a '<', at least one character other than '>', the next
// '>'), then the entities replaced. Linear in the length of the text, which
// holds no NUL.
std::string CleanAnchorText(std::string_view text);
