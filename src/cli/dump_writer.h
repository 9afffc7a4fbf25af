#pragma once
// The tab-separated dump format that every inspecting command prints: a header line of column
// names, then one line per record, TAB between fields. Values are escaped so that every record is
// one line and nothing is lost: backslash as \\, TAB \t, CR \r, LF \n, any other byte below 32 as
// \xHH (two upper-case hex digits). Bytes from 32 up pass unchanged.

#include <ostream>
#include <string>
#include <string_view>
#include <vector>

namespace kelvara::cli {

std::string EscapeDumpValue(std::string_view value);

class DumpWriter {
public:
    // The stream must outlive the writer.
    explicit DumpWriter(std::ostream& out) : out_(out) {}

    void WriteHeader(const std::vector<std::string>& columnNames) { WriteLine(columnNames); }
    void WriteRecord(const std::vector<std::string>& values) { WriteLine(values); }

private:
    void WriteLine(const std::vector<std::string>& fields);

    std::ostream& out_;
};

} // namespace kelvara::cli
