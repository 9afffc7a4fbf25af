#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "text/unicode.h"

// Any bytes convert without fault; valid output of the encoder decodes back to the same units.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    const std::u16string wide = kelvara::Utf8ToWide(bytes);
    const std::string utf8 = kelvara::WideToUtf8String(wide);
    if (kelvara::Utf8ToWide(utf8) != wide) {
        std::abort();
    }
    (void)kelvara::TextDirection(bytes);
    (void)kelvara::Utf8ToAnsi(bytes);
    (void)kelvara::AnsiToUtf8String(bytes);
    return 0;
}
