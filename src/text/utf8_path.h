#pragma once
// File names are UTF-8 inside the system on every platform. A std::filesystem::path made from a
// narrow string would take the platform's narrow encoding (the ANSI code page on Windows), so
// every conversion between a UTF-8 name and a path goes through these two functions.

#include <filesystem>
#include <string>
#include <string_view>

namespace kelvara {

std::filesystem::path Utf8ToPath(std::string_view utf8);
std::string PathToUtf8(const std::filesystem::path& path);

} // namespace kelvara
