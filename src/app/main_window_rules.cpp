#include "app/main_window_rules.h"

#include <cstring>
#include <numeric>

namespace kelvara {

bool IsMaintainerSwitch(const std::string& parameter) {
    const std::size_t length = std::strlen(kMaintainerSwitch);
    return parameter.size() >= length && parameter.compare(0, length, kMaintainerSwitch) == 0;
}

bool HasMaintainerSwitch(const std::vector<std::string>& parameters) {
    bool maintainer = false;
    for (const std::string& parameter : parameters) {
        maintainer = maintainer || IsMaintainerSwitch(parameter);
    }
    return maintainer;
}

TGridColumnWidths FitTextColumnWidths(const TGridColumnWidths& widths, int gridWidth) {
    TGridColumnWidths fitted = widths;
    const int total = std::accumulate(widths.begin(), widths.end(), 0);
    const int excess = total - gridWidth + 26;
    if (excess > 0) {
        fitted[4] = 150;
        fitted[5] = 150;
    } else {
        const int half = excess / 2; // C++ division truncates toward zero
        fitted[4] -= half;
        fitted[5] -= half;
    }
    return fitted;
}

} // namespace kelvara
