#pragma once
// Helpers shared by the storage tests: scratch folders, file bytes, small schemas.

#include "engine/paradox_table.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <iterator>
#include <random>
#include <string>
#include <vector>

namespace kelvara::paradox::test {

// A fresh folder under the build tree, removed at the end of the test.
class ScratchFolder {
public:
    ScratchFolder() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name = std::string(info->test_suite_name()) + "_" + info->name();
        for (char& c : name) {
            if (c == '/') {
                c = '_';
            }
        }
        path_ = std::filesystem::path(KELVARA_TEST_BINARY_DIR) / "scratch" / "paradox" / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchFolder() {
        std::error_code ignored;
        std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

inline std::vector<std::uint8_t> ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

inline std::filesystem::path CorpusDir() {
    return std::filesystem::path(KELVARA_CORPUS_DIR) / "paradox";
}

// The schema of a language table, cut to a few languages.
// A schema of the given fields with a primary key on the first one.
inline TableSchema KeyedSchema(std::vector<FieldDef> fields) {
    TableSchema schema;
    schema.fields = std::move(fields);
    IndexDef primary;
    primary.primary = true;
    primary.fields = {schema.fields.front().name};
    schema.indexes = {primary};
    return schema;
}

inline TableSchema LanguageSchema(int languages = 3) {
    TableSchema schema;
    schema.fields = {{"Index_No", FieldType::AutoInc, 0},
                     {"Form_Name", FieldType::Alpha, 60},
                     {"Component_Name", FieldType::Alpha, 60},
                     {"Property_Name", FieldType::Alpha, 60},
                     {"Native", FieldType::Blob, 10}};
    static const char* const kNames[] = {"Arabic", "Catalan", "Chinese", "ChineseTrad", "Danish",
                                         "Dutch",  "English", "Finnish", "German",      "Greek"};
    for (int i = 0; i < languages; ++i) {
        schema.fields.push_back(
            {kNames[i % 10] + (i >= 10 ? std::to_string(i) : ""), FieldType::Blob, 10});
    }
    IndexDef primary;
    primary.primary = true;
    primary.unique = true;
    primary.fields = {"Index_No"};
    IndexDef form;
    form.name = "FormIndex";
    form.fields = {"Form_Name", "Component_Name", "Property_Name"};
    form.caseInsensitive = true;
    schema.indexes = {primary, form};
    return schema;
}

// Text of a given length that varies with the seed.
inline std::string Text(std::size_t length, unsigned seed) {
    std::string text(length, ' ');
    std::minstd_rand random(seed + 1);
    for (char& c : text) {
        c = static_cast<char>('a' + random() % 26);
    }
    return text;
}

} // namespace kelvara::paradox::test

namespace kelvara::paradox::test {

inline std::uint16_t U16(const std::vector<std::uint8_t>& b, std::size_t at) {
    return static_cast<std::uint16_t>(b.at(at) | (b.at(at + 1) << 8));
}
inline std::uint32_t U32(const std::vector<std::uint8_t>& b, std::size_t at) {
    return U16(b, at) | (static_cast<std::uint32_t>(U16(b, at + 2)) << 16);
}

// Checks a .px against its .db straight from the bytes: the level-1 entries must name every data
// block in chain order with its first key and record count, the upper levels must sum their
// children, and the header counters must match. Returns the faults found.
inline std::vector<std::string> CheckIndexFiles(const std::filesystem::path& db,
                                                const std::filesystem::path& px,
                                                std::size_t keySize) {
    std::vector<std::string> faults;
    const auto d = ReadBytes(db);
    const auto p = ReadBytes(px);
    const std::size_t rs = U16(d, 0), dh = U16(d, 2), dbs = d.at(5) * 1024u;
    struct Leaf {
        std::vector<std::uint8_t> key;
        std::uint32_t block, count;
    };
    std::vector<Leaf> chain;
    for (std::uint16_t b = U16(d, 0x0E); b != 0;) {
        const std::size_t at = dh + (b - 1u) * dbs;
        const auto add = static_cast<std::int16_t>(U16(d, at + 4));
        Leaf leaf;
        leaf.key.assign(d.begin() + at + 6, d.begin() + at + 6 + keySize);
        leaf.block = b;
        leaf.count = static_cast<std::uint32_t>(add / static_cast<int>(rs) + 1);
        chain.push_back(leaf);
        b = U16(d, at);
        if (chain.size() > 70000) {
            faults.push_back("data chain loops");
            return faults;
        }
    }
    const std::size_t es = U16(p, 0), ph = U16(p, 2), pbs = p.at(5) * 1024u;
    if (p.at(4) != 1 || es != keySize + 6) {
        faults.push_back("index header: wrong file type or entry size");
        return faults;
    }
    auto entries = [&](std::uint32_t block) {
        std::vector<Leaf> list;
        const std::size_t at = ph + (block - 1u) * pbs;
        const auto add = static_cast<std::int16_t>(U16(p, at + 4));
        for (int i = 0; i < add / static_cast<int>(es) + 1; ++i) {
            const std::size_t e = at + 6 + i * es;
            Leaf leaf;
            leaf.key.assign(p.begin() + e, p.begin() + e + keySize);
            leaf.block = ((p[e + keySize] << 8) | p[e + keySize + 1]) ^ 0x8000;
            leaf.count = ((p[e + keySize + 2] << 8) | p[e + keySize + 3]) ^ 0x8000;
            list.push_back(leaf);
        }
        return list;
    };
    std::vector<Leaf> leaves;
    std::size_t totalEntries = 0;
    std::function<std::uint32_t(std::uint32_t, int)> walk = [&](std::uint32_t block, int level) {
        const auto list = entries(block);
        totalEntries += list.size();
        std::uint32_t sum = 0;
        for (const Leaf& entry : list) {
            if (level == 1) {
                leaves.push_back(entry);
            } else if (walk(entry.block, level - 1) != entry.count) {
                faults.push_back("an upper index entry does not sum its children");
            }
            sum += entry.count;
        }
        return sum;
    };
    const int levels = p.at(0x20);
    const std::uint32_t total = walk(U16(p, 0x1E), levels);
    if (total != U32(d, 6)) {
        faults.push_back("index counts " + std::to_string(total) + " records, the table " +
                         std::to_string(U32(d, 6)));
    }
    if (totalEntries != U32(p, 6)) {
        faults.push_back("index header entry count is wrong");
    }
    if (p.size() != ph + U16(p, 0x0C) * pbs) {
        faults.push_back("index file length does not match its block count");
    }
    if (leaves.size() != chain.size()) {
        faults.push_back("index has " + std::to_string(leaves.size()) + " leaf entries for " +
                         std::to_string(chain.size()) + " data blocks");
        return faults;
    }
    for (std::size_t i = 0; i < chain.size(); ++i) {
        if (leaves[i].block != chain[i].block || leaves[i].count != chain[i].count ||
            leaves[i].key != chain[i].key) {
            faults.push_back("leaf entry " + std::to_string(i) + " does not match data block " +
                             std::to_string(chain[i].block));
        }
    }
    return faults;
}

} // namespace kelvara::paradox::test

namespace kelvara::paradox {
// Readable values in test failures.
inline void PrintTo(const FieldValue& value, std::ostream* out) {
    *out << "kind " << static_cast<int>(value.GetKind()) << " '" << value.DisplayText() << "'";
}
} // namespace kelvara::paradox
