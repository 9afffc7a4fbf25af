#pragma once
// The resource tree of an image as lines "Type/Name<TAB>Size", in list order, for comparisons.

#include "scan/exe_image.h"

#include <string>
#include <vector>

namespace kelvara::test {

inline std::vector<std::string> ResourceLines(TExeImage& image) {
    std::vector<std::string> lines;
    TResourceList& types = image.Resources();
    for (int i = 0; i < types.Count(); ++i) {
        TResourceItem& type = types.Items(i);
        TResourceList& list = type.List();
        for (int j = 0; j < list.Count(); ++j) {
            TResourceItem& item = list.Items(j);
            lines.push_back(type.Name() + "/" + item.Name() + "\t" + std::to_string(item.Size()));
        }
    }
    return lines;
}

} // namespace kelvara::test
