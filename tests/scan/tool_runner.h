#pragma once
// Running the independent tools (Free Pascal's converter, windres, as, ld) from tests, in a work
// folder of the test build.

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kelvara::test {

// An empty folder under the test build's folder, made afresh for name.
std::filesystem::path WorkFolder(const std::string& name);

// Runs the command line through the shell; returns its exit status. Its output goes to log.
int Run(const std::string& commandLine, const std::filesystem::path& log);

std::string Quote(const std::filesystem::path& path);
std::string Quote(const std::string& text);

void WriteFile(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes);
void WriteFile(const std::filesystem::path& path, const std::string& text);
std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path);
std::string ReadText(const std::filesystem::path& path);

// The tools found when the tests were configured; empty when missing.
struct Tools {
    std::string formconv = KELVARA_FORMCONV;
    std::string windres32 = KELVARA_WINDRES32;
    std::string windres64 = KELVARA_WINDRES64;
    std::string as32 = KELVARA_AS32;
    std::string as64 = KELVARA_AS64;
    std::string ld32 = KELVARA_LD32;
    std::string ld64 = KELVARA_LD64;
    std::string preprocessor = KELVARA_RC_PREPROCESSOR;
};

// The corpus folder, or an empty path when it is missing.
std::filesystem::path CorpusFolder();

} // namespace kelvara::test
