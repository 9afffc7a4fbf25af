#pragma once
// Tokens of the local SQL that queries are written in.
//
// The lexical rules: blanks, tabs and line breaks separate tokens and are otherwise ignored. A word
// begins with a letter, an underscore or a byte from 0x80 up and goes on with those and digits;
// keywords are words, recognised in any letter case by the parser. Text in double quotes is one
// token whatever it holds (line breaks included); a double quote inside it is written doubled
// (""), and the token's text is the content with that doubling undone. The punctuation is
// , . ( ) = and *. Anything else is a syntax error naming its position.

#include "engine/dataset_error.h"

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara {

// A failure to understand a statement: a syntax error, an unknown column, an unknown alias.
class ESqlError : public EDatabaseError {
public:
    using EDatabaseError::EDatabaseError;
};

// Where a token starts: line and column count from 1, the column in bytes.
struct SqlPosition {
    std::size_t offset = 0;
    std::size_t line = 1;
    std::size_t column = 1;
};

enum class SqlTokenKind { Word, Quoted, Comma, Dot, LeftParen, RightParen, Equals, Star, End };

struct SqlToken {
    SqlTokenKind kind = SqlTokenKind::End;
    // A word as written; quoted text without its quotes, doubled quotes undone; empty otherwise.
    std::string text;
    SqlPosition position;
};

// The tokens of a statement, always ending with one End token. Throws ESqlError on a character
// that begins no token and on quoted text without its closing quote.
std::vector<SqlToken> TokenizeSql(std::string_view statement);

// "line 3, column 7"
std::string DescribeSqlPosition(const SqlPosition& position);

// How an error message shows a token: 'word', "quoted text", ',' or "end of statement".
std::string DescribeSqlToken(const SqlToken& token);

} // namespace kelvara
