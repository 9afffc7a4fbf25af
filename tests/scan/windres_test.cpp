// Executables built by mingw's windres and ld, 32- and 64-bit: the reader must list what the
// resource script put in, with the same bytes.

#include "scan/dfm_scanner.h"
#include "scan/exe_image.h"
#include "scan/form_builder.h"
#include "scan/resource_listing.h"
#include "scan/tool_runner.h"

#include <algorithm>
#include <gtest/gtest.h>

namespace kelvara {
namespace {

namespace fs = std::filesystem;
using namespace test;

struct Target {
    const char* name;
    std::string windres, as, ld;
    bool is64Bit;
};

std::vector<Target> Targets() {
    const Tools tools;
    return {{"i686", tools.windres32, tools.as32, tools.ld32, false},
            {"x86_64", tools.windres64, tools.as64, tools.ld64, true}};
}

// A minimal 16x16 icon file with one 4-bit image.
std::vector<std::uint8_t> IconFile() {
    std::vector<std::uint8_t> image(40 + 16 * 4 + 16 * 8 + 16 * 4, 0);
    image[0] = 40;
    image[4] = 16;
    image[8] = 32; // height of image and mask
    image[12] = 1;
    image[14] = 4;
    std::vector<std::uint8_t> file = {0, 0, 1, 0, 1, 0, 16, 16, 16, 0, 1, 0, 4, 0};
    const auto size = static_cast<std::uint32_t>(image.size());
    for (int i = 0; i < 4; ++i) {
        file.push_back(static_cast<std::uint8_t>(size >> (8 * i)));
    }
    file.insert(file.end(), {22, 0, 0, 0});
    file.insert(file.end(), image.begin(), image.end());
    return file;
}

// Builds an executable from the resource script; "" when it was built, else why not.
std::string BuildExecutable(const Target& target, const fs::path& folder, const std::string& script,
                            fs::path& exe) {
    const Tools tools;
    if (target.windres.empty() || target.as.empty() || target.ld.empty() ||
        tools.preprocessor.empty()) {
        return std::string("mingw binutils for ") + target.name +
               " (windres, as, ld) or cpp not found (Debian packages binutils-mingw-w64-i686, "
               "binutils-mingw-w64-x86-64, cpp)";
    }
    WriteFile(folder / "app.rc", script);
    WriteFile(folder / "start.s", std::string(".globl start\nstart:\n  ret\n"));
    exe = folder / "app.exe";
    const std::string commands = "cd " + Quote(folder) + " && " + Quote(target.windres) +
                                 " --preprocessor=" + Quote(tools.preprocessor) +
                                 " -i app.rc -o res.o && " + Quote(target.as) +
                                 " start.s -o start.o && " + Quote(target.ld) +
                                 " -e start --subsystem windows start.o res.o -o app.exe";
    if (Run(commands, folder / "build.log") != 0) {
        return "building failed: " + ReadText(folder / "build.log");
    }
    return "";
}

std::vector<std::uint8_t> Form(const std::string& className, const std::string& caption) {
    using namespace test::form;
    return FormStream(Object{className,
                             className.substr(1),
                             {{"Caption", Text(caption)}, {"Left", Int(10)}},
                             {Object{"TButton", "OkButton", {{"Caption", Text("OK")}}}}});
}

TEST(WindresExecutables, ListTheirResourcesWithTheBytesPutIn) {
    for (const Target& target : Targets()) {
        SCOPED_TRACE(target.name);
        const fs::path folder = WorkFolder(std::string("windres_") + target.name);
        WriteFile(folder / "main.bin", Form("TMAINFORM", "Main window"));
        WriteFile(folder / "about.bin", Form("TABOUTBOX", "About"));
        WriteFile(folder / "blob.bin", std::vector<std::uint8_t>(1000, 0x5A));
        WriteFile(folder / "app.ico", IconFile());
        const std::string script = "TMAINFORM RCDATA \"main.bin\"\n"
                                   "TABOUTBOX RCDATA \"about.bin\"\n"
                                   "7 RCDATA \"blob.bin\"\n"
                                   "1 24 { \"<manifest/>\" }\n"
                                   "MAINICON ICON \"app.ico\"\n"
                                   "HELLO MYTYPE { \"typed\" }\n"
                                   "STRINGTABLE { 1 \"one\" 2 \"two\" }\n"
                                   "LANGUAGE 9, 1\n"
                                   "DUP RCDATA { \"english\" }\n"
                                   "LANGUAGE 7, 1\n"
                                   "DUP RCDATA { \"deutsch!\" }\n";
        fs::path exe;
        const std::string why = BuildExecutable(target, folder, script, exe);
        if (!why.empty()) {
            GTEST_SKIP() << why;
        }
        TExeImage image(exe.string());
        EXPECT_EQ(image.Is64Bit(), target.is64Bit);
        std::vector<std::string> lines = ResourceLines(image);
        std::sort(lines.begin(), lines.end());
        const std::vector<std::string> expected = {
            "24/1\t11",
            "Icon/MAINICON\t20",
            "MYTYPE/HELLO\t5",
            "RCData/7\t1000",
            "RCData/DUP\t8", // language 7 is stored before language 9
            "RCData/TABOUTBOX\t" + std::to_string(Form("TABOUTBOX", "About").size()),
            "RCData/TMAINFORM\t" + std::to_string(Form("TMAINFORM", "Main window").size()),
            "String/1\t" + std::to_string(2 * (16 + 3 + 3)),
        };
        EXPECT_EQ(lines, expected);

        // The forms decode from the bytes the reader hands out.
        TResourceList& types = image.Resources();
        int forms = 0;
        for (int i = 0; i < types.Count(); ++i) {
            if (types.Items(i).Name() != "RCData") {
                continue;
            }
            TResourceList& list = types.Items(i).List();
            for (int j = 0; j < list.Count(); ++j) {
                TResourceItem& item = list.Items(j);
                const auto data = item.RawData();
                if (item.Name() == "DUP") {
                    EXPECT_EQ(std::string(data.begin(), data.end()), "deutsch!");
                }
                if (data.size() < 4 || !std::equal(data.begin(), data.begin() + 4, "TPF0")) {
                    continue;
                }
                TMemoryStream stream;
                item.SaveToStream(stream);
                stream.SetPosition(0);
                TDFMScanner scanner;
                scanner.SetStream(&stream);
                scanner.Parse();
                EXPECT_EQ("T" + scanner.Root().Name, item.Name());
                EXPECT_EQ(scanner.Root().FirstChild()->StrProperty("Caption"), "OK");
                ++forms;
            }
        }
        EXPECT_EQ(forms, 2);
    }
}

} // namespace
} // namespace kelvara
