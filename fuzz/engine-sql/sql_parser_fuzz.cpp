#include "engine/sql_like.h"
#include "engine/sql_parser.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

// Any text either parses or fails with ESqlError; nothing else escapes, nothing crashes. The same
// bytes, split at their first NUL into text and pattern, go through the like matcher.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    try {
        const kelvara::SqlStatement statement = kelvara::ParseSqlStatement(input);
        if (!statement.selectAll && statement.columns.empty()) {
            std::abort();
        }
    } catch (const kelvara::ESqlError&) {
    }
    const std::size_t split = input.find('\0');
    if (split != std::string_view::npos) {
        const std::string_view text = input.substr(0, split);
        const std::string_view pattern = input.substr(split + 1);
        const bool matches = kelvara::SqlLikeMatches(text, pattern);
        if (pattern.find_first_of("%_") == std::string_view::npos &&
            matches != kelvara::AsciiEqualIgnoringCase(text, pattern)) {
            std::abort();
        }
    }
    return 0;
}
