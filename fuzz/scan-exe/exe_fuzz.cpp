#include "scan/dfm_scanner.h"
#include "scan/exe_image.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

// Any bytes either open as an executable whose whole resource tree can be walked, or fail with
// EExeError (and a form resource with EReadError); nothing else may escape, nothing may be read
// out of bounds.
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace kelvara;
    try {
        TExeImage image(std::vector<std::uint8_t>(data, data + size), "fuzz.exe");
        (void)image.FindSection(".text");
        TResourceList& types = image.Resources();
        for (int i = 0; i < types.Count(); ++i) {
            TResourceItem& type = types.Items(i);
            (void)type.Name();
            if (!type.IsList()) {
                (void)type.Size();
                continue;
            }
            TResourceList& list = type.List();
            for (int j = 0; j < list.Count(); ++j) {
                TResourceItem& item = list.Items(j);
                (void)item.Name();
                if (item.IsList()) {
                    try {
                        (void)item.List().Count();
                        std::abort(); // deeper lists are always refused
                    } catch (const EExeError&) {
                    }
                    continue;
                }
                const auto bytes = item.RawData();
                if (bytes.size() != item.Size()) {
                    std::abort();
                }
                TMemoryStream stream;
                item.SaveToStream(stream);
                stream.SetPosition(0);
                TDFMScanner scanner;
                scanner.SetStream(&stream);
                try {
                    scanner.Parse();
                } catch (const EReadError&) {
                }
            }
        }
    } catch (const EExeError&) {
    }
    return 0;
}
