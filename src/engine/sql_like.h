#pragma once
// Text comparison of the query language.
//
// like: % matches any run of characters (none included), _ exactly one character (one UTF-8
// sequence: a lead byte with its continuation bytes); every other pattern byte matches itself with
// ASCII letters compared ignoring case (A-Z fold to a-z; other bytes, UTF-8 included, compare
// exactly). There is no escape character. The case-blind like keeps a form-name filter from
// missing records whose names differ only in letter case.
//
// =: the exact bytes, letter case included.

#include "text/ascii.h"

#include <string>
#include <string_view>

namespace kelvara {

// Whether text matches pattern under the rules above. Runs in time proportional to the product of
// the two lengths at worst, whatever the pattern.
bool SqlLikeMatches(std::string_view text, std::string_view pattern);

// The bytes of pattern before its first % or _: every matching text begins with them, ignoring
// ASCII case.
std::string_view SqlLikeFixedPrefix(std::string_view pattern);

} // namespace kelvara
