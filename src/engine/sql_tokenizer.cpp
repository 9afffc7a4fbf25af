#include "engine/sql_tokenizer.h"

#include <fmt/format.h>

namespace kelvara {
namespace {

bool IsWordStart(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '_' || c >= 0x80;
}

bool IsWordPart(unsigned char c) {
    return IsWordStart(c) || (c >= '0' && c <= '9');
}

bool IsBlank(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// Error messages quote what the user wrote, so control bytes must not garble the one-line message.
std::string Printable(std::string_view text) {
    std::string out;
    for (const char ch : text) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) {
            out += fmt::format("\\x{:02X}", c);
        } else {
            out += ch;
        }
    }
    return out;
}

class Tokenizer {
public:
    explicit Tokenizer(std::string_view text) : text_(text) {}

    std::vector<SqlToken> Run() {
        std::vector<SqlToken> tokens;
        for (;;) {
            SkipBlanks();
            SqlToken token;
            token.position = position_;
            if (AtEnd()) {
                tokens.push_back(std::move(token));
                return tokens;
            }
            const auto c = static_cast<unsigned char>(Peek());
            if (IsWordStart(c)) {
                token.kind = SqlTokenKind::Word;
                token.text = ReadWord();
            } else if (c == '"') {
                token.kind = SqlTokenKind::Quoted;
                token.text = ReadQuoted();
            } else {
                token.kind = Punctuation(c);
                Advance();
            }
            tokens.push_back(std::move(token));
        }
    }

private:
    bool AtEnd() const { return position_.offset >= text_.size(); }
    char Peek() const { return text_[position_.offset]; }

    void Advance() {
        if (Peek() == '\n') {
            ++position_.line;
            position_.column = 1;
        } else {
            ++position_.column;
        }
        ++position_.offset;
    }

    void SkipBlanks() {
        while (!AtEnd() && IsBlank(static_cast<unsigned char>(Peek()))) {
            Advance();
        }
    }

    std::string ReadWord() {
        const std::size_t start = position_.offset;
        while (!AtEnd() && IsWordPart(static_cast<unsigned char>(Peek()))) {
            Advance();
        }
        return std::string(text_.substr(start, position_.offset - start));
    }

    std::string ReadQuoted() {
        const SqlPosition start = position_;
        Advance();
        std::string content;
        for (;;) {
            if (AtEnd()) {
                throw ESqlError(
                    fmt::format("SQL syntax error at {}: the text in double quotes is not closed",
                                DescribeSqlPosition(start)));
            }
            const char ch = Peek();
            Advance();
            if (ch != '"') {
                content += ch;
            } else if (!AtEnd() && Peek() == '"') {
                content += '"';
                Advance();
            } else {
                return content;
            }
        }
    }

    SqlTokenKind Punctuation(unsigned char c) const {
        switch (c) {
        case ',':
            return SqlTokenKind::Comma;
        case '.':
            return SqlTokenKind::Dot;
        case '(':
            return SqlTokenKind::LeftParen;
        case ')':
            return SqlTokenKind::RightParen;
        case '=':
            return SqlTokenKind::Equals;
        case '*':
            return SqlTokenKind::Star;
        default:
            throw ESqlError(fmt::format("SQL syntax error at {}: unexpected character '{}'",
                                        DescribeSqlPosition(position_),
                                        Printable(std::string_view(&text_[position_.offset], 1))));
        }
    }

    std::string_view text_;
    SqlPosition position_;
};

} // namespace

std::vector<SqlToken> TokenizeSql(std::string_view statement) {
    return Tokenizer(statement).Run();
}

std::string DescribeSqlPosition(const SqlPosition& position) {
    return fmt::format("line {}, column {}", position.line, position.column);
}

std::string DescribeSqlToken(const SqlToken& token) {
    switch (token.kind) {
    case SqlTokenKind::Word:
        return fmt::format("'{}'", Printable(token.text));
    case SqlTokenKind::Quoted:
        return fmt::format("\"{}\"", Printable(token.text));
    case SqlTokenKind::Comma:
        return "','";
    case SqlTokenKind::Dot:
        return "'.'";
    case SqlTokenKind::LeftParen:
        return "'('";
    case SqlTokenKind::RightParen:
        return "')'";
    case SqlTokenKind::Equals:
        return "'='";
    case SqlTokenKind::Star:
        return "'*'";
    case SqlTokenKind::End:
        break;
    }
    return "end of statement";
}

} // namespace kelvara
