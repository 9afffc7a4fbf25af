// Every data table of the corpus read through our reader and compared with the dump an independent
// reader made of it: header facts, field list and every value, BLOBs included.
#include "engine/paradox_table.h"
#include "paradox_test_support.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace kelvara::paradox {
namespace {

struct Dump {
    std::map<std::string, std::string> facts;
    std::vector<std::vector<std::string>> fields; // number, name, symbol, size
    std::vector<std::vector<std::string>> rows;
};

std::vector<std::string> SplitTabs(const std::string& line) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    while (true) {
        const std::size_t tab = line.find('\t', start);
        parts.push_back(line.substr(start, tab - start));
        if (tab == std::string::npos) {
            return parts;
        }
        start = tab + 1;
    }
}

Dump ReadDump(const std::filesystem::path& path) {
    Dump dump;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    bool namesSeen = false;
    while (std::getline(in, line)) {
        if (line.rfind("# ", 0) == 0) {
            const auto parts = SplitTabs(line.substr(2));
            if (parts[0] == "field") {
                dump.fields.emplace_back(parts.begin() + 1, parts.end());
            } else if (parts.size() >= 2) {
                dump.facts[parts[0]] = parts[1];
            }
            continue;
        }
        if (!namesSeen) {
            namesSeen = true;
            continue;
        }
        dump.rows.push_back(SplitTabs(line));
    }
    return dump;
}

// Bytes as the dump writes them: printable ASCII as is, '\' doubled, everything else \xHH.
std::string Escaped(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte == '\\') {
            text += "\\\\";
        } else if (byte >= 0x20 && byte <= 0x7E) {
            text += c;
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", byte);
            text += hex;
        }
    }
    return text;
}

std::string Hex(std::string_view bytes) {
    std::string text;
    for (const char c : bytes) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(c));
        text += hex;
    }
    return text;
}

std::uint64_t Fnv1a64(std::string_view bytes) {
    std::uint64_t hash = 0xcbf29ce484222325u;
    for (const char c : bytes) {
        hash = (hash ^ static_cast<unsigned char>(c)) * 0x100000001b3u;
    }
    return hash;
}

// The dump numbers years before 1 historically (no year 0: -1 is 1 BC); ours are astronomical
// (year 0 is 1 BC), as ISO 8601 has them.
std::string DateText(std::int64_t day) {
    CivilDate date = CivilFromDay(static_cast<std::int32_t>(day));
    if (date.year <= 0) {
        date.year -= 1;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", date.year, date.month, date.day);
    return text;
}

std::string TimeText(std::int64_t ms) {
    char text[32];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d.%03d", static_cast<int>(ms / 3600000),
                  static_cast<int>(ms / 60000 % 60), static_cast<int>(ms / 1000 % 60),
                  static_cast<int>(ms % 1000));
    return text;
}

// Compares one cell; an empty result means they agree.
std::string Compare(const FieldInfo& field, const FieldValue& value, const std::string& cell) {
    if (cell == "\\N") {
        return value.IsNull() ? "" : "expected null, got '" + value.DisplayText() + "'";
    }
    if (value.IsNull()) {
        return "got null, expected '" + cell + "'";
    }
    std::string mine;
    switch (field.def.type) {
    case FieldType::Alpha:
        mine = Escaped(value.Bytes());
        break;
    case FieldType::Bytes:
        mine = Hex(value.Bytes());
        break;
    case FieldType::Short:
    case FieldType::Long:
    case FieldType::AutoInc:
        mine = std::to_string(value.Integer());
        break;
    case FieldType::Number:
    case FieldType::Currency:
        return std::strtod(cell.c_str(), nullptr) == value.Number()
                   ? ""
                   : "number " + value.DisplayText() + " differs from " + cell;
    case FieldType::Logical:
        mine = value.Logical() ? "true" : "false";
        break;
    case FieldType::Date:
        mine = DateText(value.Integer());
        break;
    case FieldType::Time:
        mine = TimeText(value.Integer());
        break;
    case FieldType::Timestamp: {
        const double ms = value.Number();
        if (ms < 86400000.0 * 2) {
            return ""; // the dump's own formatting of days before the era is not comparable
        }
        const auto total = static_cast<std::int64_t>(ms);
        mine = DateText(total / 86400000) + "T" + TimeText(total % 86400000);
        break;
    }
    case FieldType::Bcd:
        if (value.GetKind() == FieldValue::Kind::Invalid) {
            // Nibbles above 9: the dump prints them as the characters after '9'.
            return cell.find_first_of(":;<=>?") != std::string::npos
                       ? ""
                       : "decoded as invalid, the dump has " + cell;
        }
        mine = value.Bytes();
        if (!cell.empty() && cell.back() == '.') {
            return mine + "." == cell ? "" : "decimal " + mine + " differs from " + cell;
        }
        break;
    default: { // BLOB types
        const std::string& bytes = value.Bytes();
        const std::size_t close = cell.find('>');
        const std::string meta = cell.substr(0, close + 1);
        std::string data = cell.substr(close + 1);
        const std::size_t stored = bytes.size() + (field.def.type == FieldType::Graphic ? 8 : 0);
        if (meta.find("<len=" + std::to_string(stored) + " ") != 0) {
            return "length " + std::to_string(stored) + " differs from " + meta;
        }
        const std::size_t hashAt = data.rfind("...[fnv1a64=");
        if (hashAt != std::string::npos) {
            char hash[20];
            std::snprintf(hash, sizeof hash, "%016" PRIx64, Fnv1a64(bytes));
            if (data.substr(hashAt + 12, 16) != hash) {
                return "hash of the whole value differs";
            }
            data = data.substr(0, hashAt);
            mine = Escaped(std::string_view(bytes).substr(0, 2048));
        } else {
            mine = Escaped(bytes);
        }
        return mine == data ? "" : "BLOB contents differ";
    }
    }
    return mine == cell ? "" : "'" + mine + "' differs from '" + cell + "'";
}

std::vector<std::filesystem::path> DataTableDumps() {
    std::vector<std::filesystem::path> tables;
    if (!std::filesystem::exists(test::CorpusDir())) {
        return tables;
    }
    for (const auto& entry : std::filesystem::recursive_directory_iterator(test::CorpusDir())) {
        const std::string name = entry.path().filename().string();
        if (name.size() > 12 && name.substr(name.size() - 12) == ".db.dump.tsv") {
            tables.push_back(entry.path().parent_path() / name.substr(0, name.size() - 9));
        } else if (name.size() > 12 && name.substr(name.size() - 12) == ".DB.dump.tsv") {
            tables.push_back(entry.path().parent_path() / name.substr(0, name.size() - 9));
        }
    }
    std::sort(tables.begin(), tables.end());
    return tables;
}

TEST(ParadoxCorpus, EveryDataTableReadsAsItsDumpSays) {
    const auto tables = DataTableDumps();
    if (tables.empty()) {
        GTEST_SKIP() << "corpus not found at " << test::CorpusDir();
    }
    int compared = 0;
    for (const auto& path : tables) {
        SCOPED_TRACE(path.string());
        std::filesystem::path dumpPath = path;
        dumpPath += ".dump.tsv";
        const Dump dump = ReadDump(dumpPath);
        if (dump.facts.count("encryption") && dump.facts.at("encryption") != "0x0") {
            EXPECT_THROW(ParadoxTable::Open(path, {false, true}), EParadoxError);
            continue;
        }
        const auto table = ParadoxTable::Open(path, {false, true});
        const TableInfo& info = table->Info();
        EXPECT_EQ(std::to_string(info.recordSize), dump.facts.at("recordsize"));
        EXPECT_EQ(std::to_string(table->RecordCount()), dump.facts.at("numrecords"));
        EXPECT_EQ(std::to_string(info.keyFieldCount), dump.facts.at("primarykeyfields"));
        EXPECT_EQ(std::to_string(table->AutoIncrement()), dump.facts.at("autoinc"));
        EXPECT_EQ(dump.facts.at("fileversion").substr(0, 2), std::to_string(info.fileVersion));
        if (info.fileVersionId >= 5) {
            EXPECT_EQ(std::to_string(info.codePage), dump.facts.at("codepage"));
            EXPECT_NE(dump.facts.at("sortorder").find("(sortOrderID " + info.sortOrderName + ")"),
                      std::string::npos);
        }
        ASSERT_EQ(info.fields.size(), dump.fields.size());
        for (std::size_t f = 0; f < info.fields.size(); ++f) {
            const FieldInfo& field = info.fields[f];
            EXPECT_EQ(Escaped(field.def.name), dump.fields[f][1]);
            EXPECT_EQ(std::string(1, FieldTypeSymbol(field.def.type)), dump.fields[f][2]);
            const int size = field.def.type == FieldType::Bcd ? field.def.size : field.storedSize;
            EXPECT_EQ(std::to_string(size), dump.fields[f][3]);
        }
        ASSERT_EQ(dump.rows.size(), table->RecordCount());
        for (std::uint32_t r = 0; r < table->RecordCount(); ++r) {
            const RecordView record = table->Record(r);
            for (std::size_t f = 0; f < info.fields.size(); ++f) {
                const std::string fault =
                    Compare(info.fields[f], record.Value(static_cast<int>(f)), dump.rows[r].at(f));
                EXPECT_EQ(fault, "") << "record " << r + 1 << ", field " << info.fields[f].def.name;
                EXPECT_EQ(record.IsNull(static_cast<int>(f)), dump.rows[r][f] == "\\N");
            }
        }
        ++compared;
    }
    EXPECT_GE(compared, 20);
}

TEST(ParadoxCorpus, IndexFilesAndEncryptedTablesAreRefusedByName) {
    const auto corpus = test::CorpusDir();
    if (!std::filesystem::exists(corpus)) {
        GTEST_SKIP() << "corpus not found at " << corpus;
    }
    const struct {
        const char* file;
        const char* fault;
    } cases[] = {
        {"leonhad_paradoxdriver/db/CUSTOMER.PX", "index file"},
        {"leonhad_paradoxdriver/db/AREACODES.XG0", "index file"},
        {"kymuweb_Paradox-Reader/zakazky.YG0", "index file"},
        {"leonhad_paradoxdriver/encrypt/encrypted.db", "encrypted"},
    };
    for (const auto& c : cases) {
        const auto path = corpus / c.file;
        try {
            ParadoxTable::Open(path, {false, true});
            ADD_FAILURE() << c.file << " opened";
        } catch (const EParadoxError& error) {
            EXPECT_NE(std::string(error.what()).find(path.string()), std::string::npos);
            EXPECT_NE(std::string(error.what()).find(c.fault), std::string::npos) << error.what();
        }
    }
}

} // namespace
} // namespace kelvara::paradox
