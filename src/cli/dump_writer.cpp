#include "cli/dump_writer.h"

namespace kelvara::cli {

std::string EscapeDumpValue(std::string_view value) {
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(value.size());
    for (const char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
        case '\\': out += "\\\\"; break;
        case '\t': out += "\\t"; break;
        case '\r': out += "\\r"; break;
        case '\n': out += "\\n"; break;
        default:
            if (byte < 32) {
                out += "\\x";
                out += kHex[byte >> 4];
                out += kHex[byte & 0x0F];
            } else {
                out += c;
            }
        }
    }
    return out;
}

void DumpWriter::WriteLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t i = 0; i < fields.size(); ++i) {
        if (i > 0) {
            line += '\t';
        }
        line += EscapeDumpValue(fields[i]);
    }
    line += '\n';
    out_ << line;
}

} // namespace kelvara::cli
