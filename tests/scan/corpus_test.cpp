// The readers over real files nobody on this project wrote: every form stream of the corpus against
// Free Pascal's text form of it, and the corpus executables against the resource listings of an
// independent PE reader.

#include "scan/dfm_scanner.h"
#include "scan/exe_image.h"
#include "scan/resource_listing.h"
#include "scan/text_form.h"
#include "scan/tool_runner.h"

#include <gtest/gtest.h>
#include <map>
#include <set>
#include <sstream>

namespace kelvara {
namespace {

namespace fs = std::filesystem;
using test::CorpusFolder;

std::vector<fs::path> CorpusStreams() {
    std::vector<fs::path> streams;
    const fs::path corpus = CorpusFolder();
    if (corpus.empty()) {
        return streams;
    }
    for (const fs::path& folder : {corpus / "forms", corpus / "exe" / "forms"}) {
        if (!fs::is_directory(folder)) {
            continue;
        }
        for (const auto& entry : fs::recursive_directory_iterator(folder)) {
            if (entry.path().extension() == ".tpf0") {
                streams.push_back(entry.path());
            }
        }
    }
    std::sort(streams.begin(), streams.end());
    return streams;
}

TEST(Corpus, EveryFormStreamAgreesWithItsTextForm) {
    const std::vector<fs::path> streams = CorpusStreams();
    if (streams.empty()) {
        GTEST_SKIP() << "corpus not found at " << KELVARA_CORPUS_DIR << ": skipped";
    }
    int compared = 0;
    for (const fs::path& path : streams) {
        SCOPED_TRACE(path.string());
        TMemoryStream stream(test::ReadBytes(path));
        TDFMScanner scanner;
        scanner.SetStream(&stream);
        ASSERT_NO_THROW(scanner.Parse());
        EXPECT_EQ(stream.Position(), stream.Size()) << "the whole stream is one form";
        fs::path text = path;
        text.replace_extension(".txt");
        if (!fs::exists(text)) {
            continue;
        }
        const test::TextObject expected = test::ParseTextForm(test::ReadText(text));
        EXPECT_EQ(test::CompareWithTextForm(scanner.Root(), expected), "");
        ++compared;
    }
    EXPECT_EQ(compared, static_cast<int>(streams.size())) << "streams with a text form";
}

// The first listing of each corpus executable: "RT_TYPE name lang=.. rva=.. size=N ...".
std::vector<std::string> IndependentListing(const fs::path& listing) {
    static const std::map<std::string, std::string> kTypeNames = {
        {"RT_BITMAP", "Bitmap"},
        {"RT_MENU", "Menu"},
        {"RT_DIALOG", "Dialog"},
        {"RT_STRING", "String"},
        {"RT_FONTDIR", "FontDir"},
        {"RT_FONT", "Font"},
        {"RT_ACCELERATOR", "Accelerators"},
        {"RT_RCDATA", "RCData"},
        {"RT_MESSAGETABLE", "MessageTable"},
        {"RT_GROUP_CURSOR", "Cursor"},
        {"RT_GROUP_ICON", "Icon"},
        {"RT_VERSION", "Version"},
        {"RT_MANIFEST", "24"}};
    std::istringstream in(test::ReadText(listing));
    std::string line;
    bool inside = false;
    std::vector<std::string> lines;
    std::set<std::string> seen;
    while (std::getline(in, line)) {
        if (line.rfind("## ", 0) == 0) {
            inside = line.find("pefile") != std::string::npos;
            continue;
        }
        if (!inside || line.rfind("RT_", 0) != 0) {
            continue;
        }
        std::istringstream fields(line);
        std::string type, name, language, rva, size;
        fields >> type >> name >> language >> rva >> size;
        if (type == "RT_ICON" || type == "RT_CURSOR") {
            continue; // set aside: only their groups are listed
        }
        const auto known = kTypeNames.find(type);
        const std::string typeName = known != kTypeNames.end() ? known->second : type;
        const std::string key = typeName + "/" + (name[0] == '#' ? name.substr(1) : name);
        if (seen.insert(key).second) { // the first language stored
            lines.push_back(key + "\t" + size.substr(size.find('=') + 1));
        }
    }
    return lines;
}

TEST(Corpus, ExecutablesListAsAnIndependentReaderListsThem) {
    const fs::path corpus = CorpusFolder();
    if (corpus.empty()) {
        GTEST_SKIP() << "corpus not found at " << KELVARA_CORPUS_DIR << ": skipped";
    }
    for (const char* name : {"PlanEx_MDIAPP.exe", "CheckCPU_Win32.exe"}) {
        SCOPED_TRACE(name);
        const fs::path exe = corpus / "exe" / name;
        TExeImage image(exe.string());
        EXPECT_FALSE(image.Is64Bit());
        const std::vector<std::string> ours = test::ResourceLines(image);
        std::vector<std::string> theirs = IndependentListing(exe.string() + ".listing.txt");
        ASSERT_FALSE(theirs.empty());
        std::vector<std::string> sortedOurs = ours;
        std::sort(sortedOurs.begin(), sortedOurs.end());
        std::sort(theirs.begin(), theirs.end());
        EXPECT_EQ(sortedOurs, theirs);
    }
}

TEST(Corpus, FormResourcesAreTheExtractedStreamsByteForByte) {
    const fs::path corpus = CorpusFolder();
    if (corpus.empty()) {
        GTEST_SKIP() << "corpus not found at " << KELVARA_CORPUS_DIR << ": skipped";
    }
    int forms = 0;
    for (const std::string_view stem : {"PlanEx_MDIAPP", "CheckCPU_Win32"}) {
        TExeImage image((corpus / "exe" / (std::string(stem) + ".exe")).string());
        TResourceList& types = image.Resources();
        for (int i = 0; i < types.Count(); ++i) {
            if (types.Items(i).Name() != "RCData") {
                continue;
            }
            TResourceList& list = types.Items(i).List();
            for (int j = 0; j < list.Count(); ++j) {
                const auto data = list.Items(j).RawData();
                const bool form =
                    data.size() >= 4 && std::equal(data.begin(), data.begin() + 4, "TPF0");
                const fs::path extracted =
                    corpus / "exe" / "forms" /
                    (std::string(stem) + "__" + list.Items(j).Name() + ".tpf0");
                EXPECT_EQ(form, fs::exists(extracted)) << extracted;
                if (form && fs::exists(extracted)) {
                    EXPECT_EQ(std::vector<std::uint8_t>(data.begin(), data.end()),
                              test::ReadBytes(extracted))
                        << extracted;
                    ++forms;
                }
            }
        }
    }
    EXPECT_EQ(forms, 13);
}

} // namespace
} // namespace kelvara
