#include "store/line_break_display.h"

namespace kelvara {

std::string TextToDisplay(std::string_view text) {
    std::string shown;
    shown.reserve(text.size());
    for (const char byte : text) {
        if (byte == '\n') {
            shown += "#10";
        } else if (byte == '\r') {
            shown += "#13";
        } else {
            shown += byte;
        }
    }
    return shown;
}

std::string DisplayToText(std::string_view text) {
    std::string stored;
    stored.reserve(text.size());
    std::size_t at = 0;
    while (at < text.size()) {
        const std::string_view rest = text.substr(at);
        if (rest.starts_with("#10")) {
            stored += '\n';
            at += 3;
        } else if (rest.starts_with("#13")) {
            stored += '\r';
            at += 3;
        } else {
            stored += text[at];
            ++at;
        }
    }
    return stored;
}

} // namespace kelvara
