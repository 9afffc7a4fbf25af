#include "engine/sql_like.h"

#include "text/unicode.h"

namespace kelvara {
namespace {

// The byte length of the character that begins at offset, never past the end.
std::size_t CharacterLength(std::string_view text, std::size_t offset) {
    std::size_t length = 1;
    while (offset + length < text.size() &&
           (static_cast<unsigned char>(text[offset + length]) & 0xC0) == 0x80 &&
           length < static_cast<std::size_t>(
                        Utf8SequenceLength(static_cast<unsigned char>(text[offset])))) {
        ++length;
    }
    return length;
}

} // namespace

// The classic two-cursor match: on a mismatch, go back to the last % and let it swallow one more
// character. Only the last % needs remembering, because a later % can absorb whatever an earlier
// one would have, so the search never branches.
bool SqlLikeMatches(std::string_view text, std::string_view pattern) {
    std::size_t t = 0;
    std::size_t p = 0;
    std::size_t starPattern = std::string_view::npos;
    std::size_t starText = 0;
    while (t < text.size()) {
        if (p < pattern.size() && pattern[p] == '%') {
            starPattern = ++p;
            starText = t;
        } else if (p < pattern.size() && pattern[p] == '_') {
            t += CharacterLength(text, t);
            ++p;
        } else if (p < pattern.size() && AsciiLower(pattern[p]) == AsciiLower(text[t])) {
            ++t;
            ++p;
        } else if (starPattern != std::string_view::npos) {
            starText += CharacterLength(text, starText);
            t = starText;
            p = starPattern;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '%') {
        ++p;
    }
    return p == pattern.size();
}

std::string_view SqlLikeFixedPrefix(std::string_view pattern) {
    return pattern.substr(0, pattern.find_first_of("%_"));
}

} // namespace kelvara
