#include <gtest/gtest.h>

#include <sstream>

#include "cli/dump_writer.h"

namespace kelvara::cli {
namespace {

TEST(EscapeDumpValue, EscapesEveryByteThatWouldBreakALine) {
    struct {
        std::string in;
        std::string out;
    } const cases[] = {
        {"plain text", "plain text"},
        {"a\\b", "a\\\\b"},
        {"tab\there", "tab\\there"},
        {"line\r\nbreak", "line\\r\\nbreak"},
        {std::string("nul\0x", 5), "nul\\x00x"},
        {"\x1f\x01", "\\x1F\\x01"},
        {"\x7f\xc3\xa9", "\x7f\xc3\xa9"},
        {"#13#10", "#13#10"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(EscapeDumpValue(c.in), c.out);
    }
}

TEST(DumpWriter, HeaderThenOneLinePerRecord) {
    std::ostringstream out;
    DumpWriter writer(out);
    writer.WriteHeader({"Index_No", "Native"});
    writer.WriteRecord({"1", "two\nlines"});
    writer.WriteRecord({"2", ""});
    EXPECT_EQ(out.str(), "Index_No\tNative\n1\ttwo\\nlines\n2\t\n");
}

} // namespace
} // namespace kelvara::cli
