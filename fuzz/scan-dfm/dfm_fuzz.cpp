#include "scan/dfm_scanner.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

// Any bytes decode into a tree or fail with EReadError; the tree read so far can always be
// walked, and the reader never reads beyond the stream.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvara;
    TMemoryStream stream(std::vector<std::uint8_t>(data, data + size));
    TDFMScanner scanner;
    scanner.SetStream(&stream);
    bool failed = false;
    try {
        scanner.Parse();
    } catch (const EReadError&) {
        failed = true;
    }
    if (!failed && stream.Position() > stream.Size()) {
        std::abort();
    }
    std::size_t total = 0;
    for (const TObjectNode* node = &scanner.Root(); node != nullptr; node = node->Next()) {
        total += node->Name.size() + node->ClassName.size();
        for (int i = 0; i < node->PropertyCount(); ++i) {
            total += node->Property(i)->Text().size();
            if (node->IndexOfProperty(node->Property(i)->Name) > i) {
                std::abort();
            }
        }
    }
    return total == static_cast<std::size_t>(-1) ? 1 : 0;
}
