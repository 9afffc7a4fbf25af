#pragma once
// Rules of the main window that need no window: the maintainer switch and the fitting of the
// two text columns.

#include <array>
#include <string>
#include <vector>

namespace kelvara {

// The command-line switch of maintainer mode: a parameter whose first 11 characters are exactly
// "-KXDW31EDIT" (letter case counts; a longer parameter counts too, a shorter one does not).
inline constexpr const char* kMaintainerSwitch = "-KXDW31EDIT";
bool IsMaintainerSwitch(const std::string& parameter);
// True when any parameter (program name excluded) is the switch.
bool HasMaintainerSwitch(const std::vector<std::string>& parameters);

// The widths of the six grid columns after fitting columns 4 (Native) and 5 (the language) to a
// grid `gridWidth` pixels wide: when the columns are wider than the grid (excess = total - grid
// width + 26 > 0) both become 150; otherwise both grow by half the spare room, truncated toward
// zero. Columns 0 to 3 never change.
using TGridColumnWidths = std::array<int, 6>;
TGridColumnWidths FitTextColumnWidths(const TGridColumnWidths& widths, int gridWidth);

} // namespace kelvara
