#include "pxlib_table_writer.h"

#include <gtest/gtest.h>
extern "C" {
#include <paradox.h>
}

#include <filesystem>

namespace kelvara::testing {
namespace {

// The helper's own check: pxlib reads back the header it wrote (the .db alone; Debian's pxlib
// cannot reopen a blob file).
TEST(PxlibTableWriter, WritesALanguageTableThatPxlibReadsBack) {
    const auto dir = std::filesystem::path(KELVARA_TEST_BINARY_DIR) / "store" / "pxlib_writer";
    std::filesystem::create_directories(dir);
    const std::string path = (dir / "lang.db").string();
    const auto columns = LanguageTableColumns({"English", "German"});
    WritePxlibTable(path, columns,
                    {{std::nullopt, "MainForm", "OkButton", "Caption", "OK", "OK", std::nullopt},
                     {std::nullopt, "MainForm", "Label1", "Caption", std::string(3000, 'x'),
                      "one\r\ntwo", "zwei"}});
    EXPECT_TRUE(std::filesystem::exists(dir / "lang.mb"));
    EXPECT_TRUE(std::filesystem::exists(dir / "lang.px"));

    pxdoc_t* doc = PX_new();
    ASSERT_EQ(PX_open_file(doc, path.c_str()), 0);
    EXPECT_EQ(PX_get_num_records(doc), 2);
    ASSERT_EQ(PX_get_num_fields(doc), 7);
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(std::string(PX_get_field(doc, i)->px_fname),
                  columns[static_cast<size_t>(i)].Name);
    }
    EXPECT_EQ(PX_get_field(doc, 0)->px_ftype, pxfAutoInc);
    EXPECT_EQ(PX_get_field(doc, 4)->px_ftype, pxfBLOb);
    EXPECT_EQ(PX_get_field(doc, 4)->px_flen, 20);
    PX_close(doc);
    PX_delete(doc);
}

} // namespace
} // namespace kelvara::testing
