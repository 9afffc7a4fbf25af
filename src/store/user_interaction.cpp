#include "store/user_interaction.h"

namespace kelvara {

std::string ErrorMessageText(std::string_view message) {
    std::string text(message);
    // Compared as unsigned bytes: a message ending in a multi-byte UTF-8 character gets its
    // full stop like one ending in a letter.
    if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') {
        text += '.';
    }
    return text;
}

} // namespace kelvara
