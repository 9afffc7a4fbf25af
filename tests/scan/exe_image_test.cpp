// The executable resource reader over PE files written by the test builder: the tree it presents,
// the header checks, and files whose resource section lies.

#include "scan/exe_image.h"
#include "scan/pe_builder.h"
#include "scan/resource_listing.h"

#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>

namespace kelvara {
namespace {

using namespace test::pe;
using test::ResourceLines;
using Lines = std::vector<std::string>;

Resource Res(ResId type, ResId name, const std::string& data, std::uint16_t language = 0x409) {
    return Resource{std::move(type), std::move(name), {{language, Bytes(data)}}};
}

Image Sample() {
    Image image;
    image.resources = {
        Res(Id(6), Id(4096), "strings"),
        Res(Id(10), Id(7), "seven"),
        Res(Id(10), Named(u"TFORM1"), "TPF0form"),
        Res(Id(10), Named(u"DVCLAL"), "0123456789abcdef"),
    };
    return image;
}

std::string OpenError(std::vector<std::uint8_t> bytes) {
    try {
        TExeImage image(std::move(bytes), "test.exe");
    } catch (const EExeError& e) {
        return e.what();
    }
    return "";
}

// The message walking the whole tree (every list opened) fails with, or "" when it does not.
std::string ListError(std::vector<std::uint8_t> bytes) {
    try {
        TExeImage image(std::move(bytes), "test.exe");
        ResourceLines(image);
        TResourceList& types = image.Resources();
        for (int i = 0; i < types.Count(); ++i) {
            TResourceList& list = types.Items(i).List();
            for (int j = 0; j < list.Count(); ++j) {
                (void)list.Items(j).RawData();
                if (list.Items(j).IsList()) {
                    list.Items(j).List();
                }
            }
        }
    } catch (const EExeError& e) {
        return e.what();
    }
    return "";
}

TEST(ExeImage, ListsTypesThenResourcesWithTheirSizes) {
    TExeImage image(Build(Sample()).bytes, "sample.exe");
    EXPECT_EQ(ResourceLines(image),
              (Lines{"String/4096\t7", "RCData/TFORM1\t8", "RCData/DVCLAL\t16", "RCData/7\t5"}))
        << "types in stored order; named resources before numbered ones";
    TResourceList& types = image.Resources();
    EXPECT_EQ(&types, &image.Resources()) << "made once";
    EXPECT_EQ(types.ResourceType(), 0);
    TResourceItem& rcdata = types.Items(1);
    EXPECT_TRUE(rcdata.IsList());
    EXPECT_EQ(rcdata.Size(), 0u);
    EXPECT_TRUE(rcdata.RawData().empty());
    EXPECT_EQ(rcdata.List().ResourceType(), 10);
    EXPECT_EQ(&rcdata.List(), &rcdata.List());
    TResourceItem& form = rcdata.List().Items(0);
    EXPECT_FALSE(form.IsList());
    EXPECT_EQ(form.ResourceType(), 10);
    const auto data = form.RawData();
    EXPECT_EQ(std::string(data.begin(), data.end()), "TPF0form");
    TMemoryStream stream;
    stream.Write(Bytes("xy"));
    form.SaveToStream(stream);
    EXPECT_EQ(std::string(stream.Data().begin(), stream.Data().end()), "xyTPF0form");
    EXPECT_THROW(types.Items(4), std::out_of_range);
    EXPECT_THROW(types.Items(-1), std::out_of_range);
}

TEST(ExeImage, ListOnAResourceIsAnError) {
    TExeImage image(Build(Sample()).bytes, "sample.exe");
    TResourceItem& form = image.Resources().Items(1).List().Items(0);
    try {
        form.List();
        FAIL() << "no error";
    } catch (const EExeError& e) {
        EXPECT_STREQ(e.what(), "ResourceItem is not a list");
    }
}

TEST(ExeImage, NamesTypesByIdentifierOnlyAtTheTopLevel) {
    Image image;
    for (std::uint32_t id = 0; id <= 17; ++id) {
        if (id != 1 && id != 3) {
            image.resources.push_back(Res(Id(id), Id(id), "x"));
        }
    }
    image.resources.push_back(Res(Id(24), Id(1), "manifest"));
    image.resources.push_back(Res(Named(u"rcdata"), Named(u"Lower"), "a"));
    image.resources.push_back(Res(Named(u"\u0424\u043E\u0440\u043C\u0430"), Id(2), "b"));
    TExeImage exe(Build(image).bytes, "types.exe");
    EXPECT_EQ(ResourceLines(exe),
              (Lines{"rcdata/Lower\t1", "\xD0\xA4\xD0\xBE\xD1\x80\xD0\xBC\xD0\xB0/2\t1",
                     "Unknown0/0\t1", "Bitmap/2\t1", "Menu/4\t1", "Dialog/5\t1", "String/6\t1",
                     "FontDir/7\t1", "Font/8\t1", "Accelerators/9\t1", "RCData/10\t1",
                     "MessageTable/11\t1", "Cursor/12\t1", "Unknown13/13\t1", "Icon/14\t1",
                     "Unknown15/15\t1", "Version/16\t1", "17/17\t1", "24/1\t8"}));
    EXPECT_LT(exe.Resources().Items(1).List().ResourceType(), 0)
        << "a string-named type has the high bit set";
}

TEST(ExeImage, IconAndCursorImagesAreSetAsideOnlyTheirGroupsListed) {
    Image image;
    image.resources = {Res(Id(3), Id(1), "icon image"), Res(Id(14), Named(u"MAINICON"), "group"),
                       Res(Id(1), Id(1), "cursor image"), Res(Id(12), Id(5), "cgroup"),
                       // Types whose lowest byte is 1 or 3 are other types.
                       Res(Id(0x101), Id(1), "a"), Res(Id(0x103), Id(1), "b")};
    TExeImage exe(Build(image).bytes, "icons.exe");
    EXPECT_EQ(ResourceLines(exe),
              (Lines{"Icon/MAINICON\t5", "Cursor/5\t6", "257/1\t1", "259/1\t1"}));
}

TEST(ExeImage, TheFirstLanguageStoredIsRead) {
    Image image;
    image.resources = {
        Resource{Id(10), Named(u"DUP"), {{0x407, Bytes("german")}, {0x409, Bytes("english!")}}}};
    TExeImage exe(Build(image).bytes, "languages.exe");
    TResourceItem& item = exe.Resources().Items(0).List().Items(0);
    const auto data = item.RawData();
    EXPECT_EQ(std::string(data.begin(), data.end()), "german");
    EXPECT_EQ(item.Size(), 6u);
}

TEST(ExeImage, FindsTheSectionTableByTheOptionalHeaderSize) {
    struct Case {
        const char* what;
        bool is64Bit;
        std::uint16_t optionalHeaderSize;
    };
    const Case cases[] = {{"32-bit", false, 0},
                          {"64-bit", true, 0},
                          {"32-bit, short optional header", false, 96},
                          {"32-bit, long optional header", false, 300},
                          {"64-bit, long optional header", true, 512}};
    for (const Case& c : cases) {
        Image image = Sample();
        image.is64Bit = c.is64Bit;
        image.optionalHeaderSize = c.optionalHeaderSize;
        image.sectionsBefore = {".text", ".data"};
        TExeImage exe(Build(image).bytes, "x.exe");
        EXPECT_EQ(exe.Is64Bit(), c.is64Bit) << c.what;
        EXPECT_EQ(ResourceLines(exe).size(), 4u) << c.what;
        const auto section = exe.FindSection(".data");
        ASSERT_TRUE(section) << c.what;
        EXPECT_EQ(section->VirtualAddress, 0x2000u) << c.what;
    }
}

TEST(ExeImage, FindsTheResourceSectionIgnoringLetterCaseOnly) {
    struct Case {
        const char* name;
        bool found;
    };
    const Case cases[] = {{".rsrc", true}, {".RSRC", true}, {".RsRc", true},     {".rsrc2", false},
                          {".rsr", false}, {"rsrc", false}, {".rsrc\x01", false}};
    for (const Case& c : cases) {
        Image image = Sample();
        image.resourceSectionName = c.name;
        TExeImage exe(Build(image).bytes, "x.exe");
        if (c.found) {
            EXPECT_EQ(ResourceLines(exe).size(), 4u) << c.name;
        } else {
            try {
                exe.Resources();
                ADD_FAILURE() << c.name << " found";
            } catch (const EExeError& e) {
                EXPECT_STREQ(e.what(), "No resources in this file.") << c.name;
            }
        }
    }
    Image none = Sample();
    none.withResourceSection = false;
    none.sectionsBefore = {".text"};
    TExeImage exe(Build(none).bytes, "x.exe");
    EXPECT_THROW(exe.Resources(), EExeError);
    EXPECT_FALSE(exe.FindSection(".rsrc"));
    EXPECT_TRUE(exe.FindSection(".TEXT"));
}

TEST(ExeImage, AnEmptyTypeIsAnEmptyListAndAnEmptyResourceHasNoData) {
    Image image;
    image.resources = {Resource{Id(10), Named(u"NOLANG"), {}}, Res(Id(10), Named(u"OK"), "ok")};
    Built built = Build(image);
    {
        TExeImage exe(built.bytes, "x.exe");
        TResourceItem& empty = exe.Resources().Items(0).List().Items(0);
        EXPECT_FALSE(empty.IsList());
        EXPECT_EQ(empty.Size(), 0u);
        EXPECT_TRUE(empty.RawData().empty());
        EXPECT_EQ(ResourceLines(exe), (Lines{"RCData/NOLANG\t0", "RCData/OK\t2"}));
    }
    // The type directory emptied: the type stays a list, without items.
    built.PutResource32(built.layout.typeDirectories[0] + 12, 0);
    TExeImage exe(built.bytes, "x.exe");
    TResourceItem& type = exe.Resources().Items(0);
    EXPECT_TRUE(type.IsList());
    EXPECT_EQ(type.List().Count(), 0);
}

TEST(ExeImage, HeaderChecksInOrder) {
    const std::vector<std::uint8_t> good = Build(Sample()).bytes;
    auto with = [&](std::uint32_t offset, std::uint32_t value, int bytes) {
        std::vector<std::uint8_t> copy = good;
        for (int i = 0; i < bytes; ++i) {
            copy[offset + static_cast<std::uint32_t>(i)] =
                static_cast<std::uint8_t>(value >> (8 * i));
        }
        return copy;
    };
    const Layout layout = Build(Sample()).layout;
    const std::string notPe = "Not a PE (WIN32 Executable) file";
    struct Case {
        const char* what;
        std::vector<std::uint8_t> bytes;
        std::string message;
    };
    const Case cases[] = {
        {"good", good, ""},
        {"one byte", {'M'}, "unrecognized file format"},
        {"ZM", with(0, 'Z' | ('M' << 8), 2), "unrecognized file format"},
        {"lowercase mz", with(0, 'm' | ('z' << 8), 2), "unrecognized file format"},
        {"MZ alone", {'M', 'Z'}, notPe},
        {"e_lfanew past the end", with(60, 0x7FFFFFFF, 4), notPe},
        {"e_lfanew near 4 GB", with(60, 0xFFFFFFF0, 4), notPe},
        {"NE signature", with(layout.ntHeaders, 0x454E, 4), notPe},
        {"PE without zeros", with(layout.ntHeaders, 0x01014550, 4), notPe},
        {"sections past the end", with(layout.ntHeaders + 6, 0xFFFF, 2), notPe},
        {"optional header past the end", with(layout.ntHeaders + 20, 0xFFFF, 2), notPe},
        {"headers cut",
         std::vector<std::uint8_t>(good.begin(), good.begin() + layout.sectionTable + 20), notPe},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(OpenError(c.bytes), c.message) << c.what;
    }
    EXPECT_EQ(OpenError({}), "CreateFileMapping failed");
}

TEST(ExeImage, OpeningFilesFromDisk) {
    const std::filesystem::path folder =
        std::filesystem::path(KELVARA_TEST_BINARY_DIR) / "scan" / "exe_image_files";
    std::filesystem::create_directories(folder);
    const std::vector<std::uint8_t> bytes = Build(Sample()).bytes;
    const std::filesystem::path good = folder / "good \xC3\xA9.exe";
    std::ofstream(good, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
    const std::filesystem::path empty = folder / "empty.exe";
    std::ofstream(empty, std::ios::binary).flush();

    TExeImage image(good.string());
    EXPECT_EQ(image.FileName(), good.string());
    EXPECT_EQ(ResourceLines(image).size(), 4u);

    struct Case {
        std::string fileName;
        std::string message;
    };
    const std::string missing = (folder / "missing.exe").string();
    const Case cases[] = {{missing, "Couldn't open: " + missing},
                          {folder.string(), "Couldn't open: " + folder.string()},
                          {empty.string(), "CreateFileMapping failed"}};
    for (const Case& c : cases) {
        try {
            TExeImage failing(c.fileName);
            ADD_FAILURE() << c.fileName << " opened";
        } catch (const EExeError& e) {
            EXPECT_EQ(e.what(), c.message);
        }
    }
}

TEST(ExeImage, LyingResourceSectionsAreRefused) {
    const Built sample = Build(Sample());
    const Layout& l = sample.layout;
    using Corrupt = std::function<void(Built&)>;
    struct Case {
        const char* what;
        Corrupt corrupt;
        std::string message;
    };
    const std::uint32_t sectionHeader = l.sectionTable; // the only section
    const Case cases[] = {
        {"section bytes past the end", [&](Built& b) { b.Put32(sectionHeader + 20, 0x7FFFFF00); },
         "Resource directory lies outside the file"},
        {"entry count past the end", [&](Built& b) { b.PutResource16(14, 0xFFFF); },
         "Resource directory entries lie outside the file"},
        {"type subdirectory past the end",
         [&](Built& b) { b.PutResource32(l.typeEntries[0] + 4, 0xFFFFFFF0); },
         "Resource directory lies outside the file"},
        {"type entry without subdirectory",
         [&](Built& b) { b.PutResource32(l.typeEntries[0] + 4, l.typeDirectories[0]); },
         "Resource entry does not lead to a directory"},
        {"type directory entries past the end",
         [&](Built& b) { b.PutResource16(l.typeDirectories[1] + 12, 0xFFFF); },
         "Resource directory entries lie outside the file"},
        {"type loops to the root",
         [&](Built& b) { b.PutResource32(l.typeEntries[1] + 4, 0x80000000); },
         "Resource directory loops back on itself"},
        {"resource loops to its type",
         [&](Built& b) {
             b.PutResource32(l.nameEntries[1][0] + 4, 0x80000000 | l.typeDirectories[1]);
         },
         "Resource directory loops back on itself"},
        {"resource loops to the root",
         [&](Built& b) { b.PutResource32(l.nameEntries[1][0] + 4, 0x80000000); },
         "Resource directory loops back on itself"},
        {"language entry leads to a further directory",
         [&](Built& b) {
             b.PutResource32(l.languageEntries[1][0][0] + 4, 0x80000000 | l.typeDirectories[0]);
         },
         "Resource directories nest deeper than an executable's can"},
        {"data entry past the end",
         [&](Built& b) { b.PutResource32(l.languageEntries[1][0][0] + 4, 0x7FFFFFF0); },
         "Resource data entry lies outside the file"},
        {"data before the section",
         [&](Built& b) { b.PutResource32(l.dataEntries[1][0][0], l.resourceRva - 1); },
         "Resource data lies outside the file"},
        {"data past the end",
         [&](Built& b) { b.PutResource32(l.dataEntries[1][0][0], 0xFFFFFFFF); },
         "Resource data lies outside the file"},
        {"size past the end",
         [&](Built& b) { b.PutResource32(l.dataEntries[1][0][0] + 4, 0xFFFFFFFF); },
         "Resource data lies outside the file"},
        {"name string past the end",
         [&](Built& b) { b.PutResource32(l.nameEntries[1][0], 0xFFFFFFFF); },
         "Resource name lies outside the file"},
        {"name length past the end",
         [&](Built& b) {
             const std::uint32_t name =
                 0x7FFFFFFF & (b.bytes[l.resourceBase + l.nameEntries[1][0]] |
                               (b.bytes[l.resourceBase + l.nameEntries[1][0] + 1] << 8) |
                               (b.bytes[l.resourceBase + l.nameEntries[1][0] + 2] << 16));
             b.PutResource16(name, 0xFFFF);
         },
         "Resource name lies outside the file"},
    };
    for (const Case& c : cases) {
        Built corrupt = sample;
        c.corrupt(corrupt);
        EXPECT_EQ(ListError(corrupt.bytes), c.message) << c.what;
    }
}

TEST(ExeImage, NestingTooDeepIsOnlyRefusedWhereItIsReached) {
    Built built = Build(Sample());
    const Layout& l = built.layout;
    built.PutResource32(l.languageEntries[1][0][0] + 4, 0x80000000 | l.typeDirectories[0]);
    TExeImage exe(built.bytes, "x.exe");
    TResourceItem& form = exe.Resources().Items(1).List().Items(0);
    EXPECT_TRUE(form.IsList());
    EXPECT_EQ(form.Size(), 0u);
    EXPECT_THROW(form.List(), EExeError);
    // Its neighbours are unaffected.
    EXPECT_EQ(exe.Resources().Items(1).List().Items(1).Size(), 16u);
}

} // namespace
} // namespace kelvara
