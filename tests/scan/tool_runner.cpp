#include "scan/tool_runner.h"

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace kelvara::test {

std::filesystem::path WorkFolder(const std::string& name) {
    const std::filesystem::path folder =
        std::filesystem::path(KELVARA_TEST_BINARY_DIR) / "scan" / "work" / name;
    std::filesystem::remove_all(folder);
    std::filesystem::create_directories(folder);
    return folder;
}

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

std::string Quote(const std::filesystem::path& path) {
    return Quote(path.string());
}

int Run(const std::string& commandLine, const std::filesystem::path& log) {
    const int status = std::system((commandLine + " >" + Quote(log) + " 2>&1").c_str());
    return status;
}

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        throw std::runtime_error("cannot write " + path.string());
    }
}

void WriteFile(const std::filesystem::path& path, const std::string& text) {
    WriteFile(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        throw std::runtime_error("cannot read " + path.string());
    }
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::filesystem::path& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

std::filesystem::path CorpusFolder() {
    const std::filesystem::path folder(KELVARA_CORPUS_DIR);
    return std::filesystem::is_directory(folder) ? folder : std::filesystem::path();
}

} // namespace kelvara::test
