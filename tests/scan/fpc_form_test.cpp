// Form streams written by Free Pascal's Classes unit (ObjectTextToBinary) must decode to the tree
// its text form describes; streams written by the test builder must decode to what Free Pascal's
// ObjectBinaryToText reads from them.

#include "scan/dfm_scanner.h"
#include "scan/form_builder.h"
#include "scan/text_form.h"
#include "scan/tool_runner.h"

#include <gtest/gtest.h>

namespace kelvara {
namespace {

namespace fs = std::filesystem;
using namespace test;

const std::string kSkipMessage =
    "Free Pascal's form converter was not built (fpc not found; Debian package fp-compiler)";

// Converts with the Free Pascal program; throws with its message on failure.
std::vector<std::uint8_t> Convert(const std::string& direction, const fs::path& folder,
                                  const std::vector<std::uint8_t>& input) {
    WriteFile(folder / "in", input);
    const std::string command = Quote(Tools().formconv) + " " + direction + " " +
                                Quote(folder / "in") + " " + Quote(folder / "out");
    if (Run(command, folder / "log") != 0) {
        throw std::runtime_error("formconv " + direction + ": " + ReadText(folder / "log"));
    }
    return ReadBytes(folder / "out");
}

struct Decoded {
    TMemoryStream stream;
    TDFMScanner scanner;
};

std::unique_ptr<Decoded> Decode(std::vector<std::uint8_t> bytes) {
    auto decoded = std::make_unique<Decoded>();
    decoded->stream = TMemoryStream(std::move(bytes));
    decoded->scanner.SetStream(&decoded->stream);
    decoded->scanner.Parse();
    return decoded;
}

struct TextCase {
    const char* what;
    const char* text;
};

const TextCase kTextCases[] = {
    {"status bar panels, no children",
     "object Form1: TForm1\n  Caption = 'Status'\n  object StatusBar: TStatusBar\n"
     "    Panels = <\n      item\n        Text = 'Ready'\n        Width = 50\n      end\n"
     "      item\n        Width = 80\n      end\n      item\n        Text = 'Done'\n"
     "        Bevel = pbNone\n      end>\n    SimplePanel = False\n  end\nend\n"},
    {"collection before two children",
     "object Form1: TForm1\n  object Header: THeaderControl\n    Sections = <\n      item\n"
     "        Text = 'A'\n      end>\n    object One: TButton\n      Caption = 'One'\n    end\n"
     "    object Two: TButton\n      Caption = 'Two'\n    end\n  end\nend\n"},
    {"string lists",
     "object Form1: TForm1\n  object Box: TListBox\n    Items.Strings = (\n      'one'\n"
     "      'two'\n      'three')\n    Numbers = (\n      1\n      2)\n    Empty = ()\n"
     "  end\nend\n"},
    {"true, a set and binary data, then more",
     "object Form1: TForm1\n  Visible = True\n  Enabled = False\n  Font.Style = [fsBold, "
     "fsItalic]\n"
     "  Icon.Data = {\n    0000010001002020100000000000E80200001600000028000000}\n"
     "  Caption = 'After'\n  Nothing = nil\nend\n"},
    {"inherited with a child position",
     "inherited Form2: TForm2\n  Top = 273\n  inherited Button1: TButton [0]\n"
     "    Caption = 'Go'\n  end\n  object Memo1: TMemo [2]\n  end\nend\n"},
    {"names differing in case",
     "object Form1: TForm1\n  caption = 'lower'\n  Caption = 'upper'\nend\n"},
    {"numbers",
     "object Form1: TForm1\n  A = 1.5\n  B = 0.1\n  C = -3.25E10\n  D = 127\n  E = -129\n"
     "  F = 70000\n  G = -2147483648\n  H = 5000000000\nend\n"},
    {"texts", "object Form1: TForm1\n  A = 'It''s'\n  B = 'line'#13#10'next'\n"
              "  C = #192#225#226\n  D = 'CPU '#25903#25345\n  E = ''\nend\n"},
    {"nesting and an empty name",
     "object TApplication\n  object Panel1: TPanel\n    object Edit1: TEdit\n"
     "      Text = 'sample'\n    end\n  end\nend\n"},
};

TEST(FreePascalStreams, DecodeToTheTreeOfTheirTextForm) {
    if (Tools().formconv.empty()) {
        GTEST_SKIP() << kSkipMessage;
    }
    const fs::path folder = WorkFolder("fpc_text_to_binary");
    std::vector<std::string> texts;
    for (const TextCase& c : kTextCases) {
        texts.push_back(c.text);
    }
    texts.push_back("object Form1: TForm1\n  Long = '" + std::string(300, 'x') + "'\nend\n");
    for (const std::string& text : texts) {
        SCOPED_TRACE(text);
        const std::vector<std::uint8_t> binary =
            Convert("txt2bin", folder, std::vector<std::uint8_t>(text.begin(), text.end()));
        const auto decoded = Decode(binary);
        EXPECT_EQ(CompareWithTextForm(decoded->scanner.Root(), ParseTextForm(text)), "");
        EXPECT_EQ(decoded->stream.Position(), binary.size());
    }
}

TEST(FreePascalStreams, ReadBuilderStreamsAsWeDo) {
    if (Tools().formconv.empty()) {
        GTEST_SKIP() << kSkipMessage;
    }
    using namespace test::form;
    const Object forms[] = {
        Object{"TForm1",
               "Form1",
               {{"Wide", WideText(u"CPU \u652F\u6301")},
                {"Utf8", Utf8Text("\xE5\xAE\x8B\xE4\xBD\x93")},
                {"Big", Int64(-5000000000)},
                {"Long", LongText(std::string(400, 'q'))},
                {"Float", Extended(-0.375)},
                {"Id", Ident("clBtnFace")}},
               {Object{"TButton", "B", {{"Caption", Text("x")}}, {}, 1, 0}}},
        Object{"TForm1",
               "Form1",
               {{"Panels",
                 Collection({Item{{{"Text", WideText(u"\u0424")}}}, Item{{{"Width", Int(9)}}}})},
                {"Lines.Strings", List({Utf8Text("a"), WideText(u"b"), Text("c")})}},
               {Object{"TPanel", "P", {}, {Object{"TEdit", "E", {}, {}, 2, 3}}}}},
    };
    const fs::path folder = WorkFolder("fpc_binary_to_text");
    for (const Object& form : forms) {
        const std::vector<std::uint8_t> binary = FormStream(form);
        const std::vector<std::uint8_t> text = Convert("bin2txt", folder, binary);
        SCOPED_TRACE(std::string(text.begin(), text.end()));
        const auto decoded = Decode(binary);
        EXPECT_EQ(CompareWithTextForm(decoded->scanner.Root(),
                                      ParseTextForm(std::string(text.begin(), text.end()))),
                  "");
    }
}

TEST(FreePascalStreams, TheTextFormComparisonNoticesDifferences) {
    // The oracle must not agree with everything: a tree and a text form that differ in one place.
    using namespace test::form;
    const auto decoded = Decode(FormStream(
        Object{"TForm1",
               "Form1",
               {{"Caption", Text("Hi")}, {"Left", Int(3)}, {"Items", List({Text("a"), Text("b")})}},
               {Object{"TButton", "B", {}, {}}}}));
    const char* const differing[] = {
        "object Form1: TForm2\n  Caption = 'Hi'\n  Left = 3\n  Items = ('a' 'b')\n"
        "  object B: TButton\n  end\nend\n",
        "object Form1: TForm1\n  Caption = 'Ho'\n  Left = 3\n  Items = ('a' 'b')\n"
        "  object B: TButton\n  end\nend\n",
        "object Form1: TForm1\n  Caption = 'Hi'\n  Left = 4\n  Items = ('a' 'b')\n"
        "  object B: TButton\n  end\nend\n",
        "object Form1: TForm1\n  Caption = 'Hi'\n  Left = 3\n  Items = ('a' 'c')\n"
        "  object B: TButton\n  end\nend\n",
        "object Form1: TForm1\n  Caption = 'Hi'\n  Left = 3\n  Items = ('a' 'b')\nend\n",
        "object Form1: TForm1\n  Caption = 'Hi'\n  Items = ('a' 'b')\n"
        "  object B: TButton\n  end\nend\n",
        "object Form1: TForm1\n  Caption = 'Hi'\n  Left = 3\n  Items = ('a' 'b')\n"
        "  Panels = <\n    item\n    end>\n  object B: TButton\n  end\nend\n",
    };
    const std::string same = "object Form1: TForm1\n  Caption = 'Hi'\n  Left = 3\n"
                             "  Items = ('a' 'b')\n  object B: TButton\n  end\nend\n";
    EXPECT_EQ(CompareWithTextForm(decoded->scanner.Root(), ParseTextForm(same)), "");
    for (const char* text : differing) {
        EXPECT_NE(CompareWithTextForm(decoded->scanner.Root(), ParseTextForm(text)), "") << text;
    }
}

} // namespace
} // namespace kelvara
