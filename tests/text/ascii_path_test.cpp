#include "text/ascii.h"
#include "text/utf8_path.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

TEST(AsciiCase, FoldsOnlyAsciiLetters) {
    EXPECT_EQ(AsciiUpperCase("Caption \xC3\xA9z"), "CAPTION \xC3\xA9Z");
    EXPECT_EQ(AsciiLowerCase("TPF0 [\\]^_`{"), "tpf0 [\\]^_`{");
    EXPECT_TRUE(AsciiEqualIgnoringCase("Items.Strings", "ITEMS.strings"));
    EXPECT_FALSE(AsciiEqualIgnoringCase("\xC3\xA9", "\xC3\x89")) << "only ASCII letters fold";
    EXPECT_FALSE(AsciiEqualIgnoringCase("Caption", "Captio"));
    EXPECT_FALSE(AsciiEqualIgnoringCase("@", "`")) << "0x40 and 0x60 are not letters";
}

TEST(Utf8Path, NonAsciiNamesSurviveTheRoundTrip) {
    const std::string name =
        "\xD0\xA2\xD0\xB0\xD0\xB1\xD0\xBB\xD0\xB8\xD1\x86\xD0\xB0/\xE8\xA1\xA8.db";
    const std::filesystem::path path = Utf8ToPath(name);
    EXPECT_EQ(PathToUtf8(path), name);
    EXPECT_EQ(PathToUtf8(path.filename()), "\xE8\xA1\xA8.db");
    EXPECT_EQ(path.extension(), std::filesystem::path(".db"));
}

} // namespace
} // namespace kelvara
