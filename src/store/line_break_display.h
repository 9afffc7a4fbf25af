#pragma once
// How line breaks inside a stored text value appear in a grid cell. A value keeps its line breaks
// as the control bytes CR (13) and LF (10); a cell shows each of them as the three characters
// "#13" or "#10", and a typed "#13" or "#10" becomes the real byte again. Both conversions work
// on values of any length and leave every other byte unchanged.

#include <string>
#include <string_view>

namespace kelvara {

// Each LF becomes "#10", each CR becomes "#13"; a CR LF pair therefore shows as "#13#10".
std::string TextToDisplay(std::string_view text);

// Scans from the left: an exact "#10" becomes LF, an exact "#13" becomes CR, everything else is
// copied byte by byte. A text without '#' comes back unchanged.
std::string DisplayToText(std::string_view text);

} // namespace kelvara
