// The scan over real forms nobody on this project wrote: every form stream of the corpus, put into
// one executable, scanned into a language table. Each form's rows must begin with its header row,
// and every component row must carry, byte for byte, the value its component holds in the decoded
// tree (texts in the code pages of their time go through the table unchanged).

#include "engine/table.h"
#include "scan/dfm_scanner.h"
#include "scan/language_scanner.h"
#include "scan/pe_builder.h"
#include "scan/tool_runner.h"
#include "store/create_db.h"

#include <algorithm>
#include <filesystem>
#include <gtest/gtest.h>
#include <map>

namespace kelvara {
namespace {

namespace fs = std::filesystem;
namespace pe = test::pe;

struct Row {
    std::string form, component, property, native;
};

std::vector<fs::path> CorpusFormStreams() {
    std::vector<fs::path> streams;
    const fs::path corpus = test::CorpusFolder();
    if (corpus.empty() || !fs::is_directory(corpus / "forms")) {
        return streams;
    }
    for (const auto& entry : fs::recursive_directory_iterator(corpus / "forms")) {
        if (entry.path().extension() == ".tpf0") {
            streams.push_back(entry.path());
        }
    }
    std::sort(streams.begin(), streams.end());
    return streams;
}

// The first node of the tree (in pre-order) with the name.
const TObjectNode* FindNode(const TObjectNode& root, const std::string& name) {
    for (const TObjectNode* node = &root; node != nullptr; node = node->Next()) {
        if (node->Name == name) {
            return node;
        }
    }
    return nullptr;
}

bool HasPropertyValue(const TObjectNode& node, const std::string& name, const std::string& value) {
    for (int i = 0; i < node.PropertyCount(); ++i) {
        if ((name.empty() || node.Property(i)->Name == name) && node.Property(i)->Text() == value) {
            return true;
        }
    }
    return false;
}

TEST(LanguageScannerCorpus, EveryFormGivesRowsHoldingItsOwnValues) {
    const std::vector<fs::path> streams = CorpusFormStreams();
    if (streams.empty()) {
        GTEST_SKIP() << "corpus not found at " << KELVARA_CORPUS_DIR << ": skipped";
    }
    const fs::path folder = test::WorkFolder("LanguageScannerCorpus");
    pe::Image image;
    std::vector<std::vector<std::uint8_t>> bytes;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        bytes.push_back(test::ReadBytes(streams[i]));
        std::u16string name = u"FORM";
        for (const char c : std::to_string(1000 + i)) {
            name += static_cast<char16_t>(c);
        }
        image.resources.push_back({pe::Id(10), pe::Named(name), {{0x409, bytes.back()}}});
    }
    const fs::path exe = folder / "corpus.exe";
    test::WriteFile(exe, pe::Build(image).bytes);

    const std::string tablePath = (folder / "corpus.db").string();
    CreateLanguageTable("", tablePath);
    {
        TTable table;
        table.SetTableName(tablePath);
        table.SetExclusive(true);
        TLanguageScanner scanner;
        scanner.SetTable(&table);
        scanner.SetExeName(exe.string());
        ASSERT_NO_THROW(scanner.Scan());
        EXPECT_EQ(scanner.FormCount(), static_cast<int>(streams.size()));
    }
    std::vector<Row> rows;
    TTable table;
    table.SetTableName(tablePath);
    table.Open();
    for (table.First(); !table.Eof(); table.Next()) {
        rows.push_back({table.FieldByName("Form_Name").AsString(),
                        table.FieldByName("Component_Name").AsString(),
                        table.FieldByName("Property_Name").AsString(),
                        table.FieldByName("Native").AsString()});
    }
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].form, "Pelora Language Table");

    std::size_t next = 1;
    int componentRows = 0;
    for (std::size_t i = 0; i < streams.size(); ++i) {
        SCOPED_TRACE(streams[i].string());
        TMemoryStream stream(bytes[i]);
        TDFMScanner reader;
        reader.SetStream(&stream);
        reader.Parse();
        const TObjectNode& root = reader.Root();
        ASSERT_LT(next, rows.size());
        const std::string caption = root.StrProperty("Caption");
        EXPECT_EQ(rows[next].form, CutKeyText(root.Name));
        EXPECT_EQ(rows[next].component, std::string(20, '*'));
        EXPECT_EQ(rows[next].native,
                  AsciiUpperCase(caption) + " WINDOW ELEMENTS (NON-TRANSLATABLE LABEL)");
        for (++next; next < rows.size() && rows[next].component != std::string(20, '*'); ++next) {
            const Row& row = rows[next];
            SCOPED_TRACE(row.component + " " + row.property);
            EXPECT_EQ(row.form, CutKeyText(root.Name));
            EXPECT_FALSE(IsBlankText(row.native));
            if (row.component == "FormCaption") {
                EXPECT_EQ(row.native, caption);
                continue;
            }
            ++componentRows;
            const std::size_t point = row.component.find('.');
            if (point == std::string::npos) {
                const TObjectNode* node = FindNode(root, row.component);
                ASSERT_NE(node, nullptr);
                EXPECT_TRUE(HasPropertyValue(*node, row.property, row.native));
                continue;
            }
            // A collection child: the owner's child at the position, holding the value.
            const TObjectNode* owner = FindNode(root, row.component.substr(0, point));
            ASSERT_NE(owner, nullptr);
            const int position = std::stoi(row.property);
            ASSERT_LT(position, owner->ChildCount());
            const TObjectNode& child = *owner->Child(position);
            EXPECT_EQ(child.Name, row.component.substr(point + 1));
            EXPECT_TRUE(HasPropertyValue(child, "", row.native));
        }
    }
    EXPECT_EQ(next, rows.size());
    EXPECT_GT(componentRows, 500);
}

} // namespace
} // namespace kelvara
