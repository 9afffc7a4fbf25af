// The object tree: navigation in pre-order, ownership and destruction order.

#include "scan/object_node.h"

#include <bit>
#include <cmath>
#include <cstdlib>
#include <gtest/gtest.h>
#include <limits>

namespace kelvara {
namespace {

// root
//   a
//     a1
//       a11
//     a2
//   b
//   c
//     c1
TEST(ObjectTree, NextWalksInPreOrder) {
    TObjectNode root;
    root.Name = "root";
    TObjectNode& a = root.AddChild();
    a.Name = "a";
    TObjectNode& a1 = a.AddChild();
    a1.Name = "a1";
    a1.AddChild().Name = "a11";
    a.AddChild().Name = "a2";
    root.AddChild().Name = "b";
    TObjectNode& c = root.AddChild();
    c.Name = "c";
    c.AddChild().Name = "c1";

    std::string order;
    for (const TObjectNode* node = &root; node != nullptr; node = node->Next()) {
        order += node->Name + " ";
    }
    EXPECT_EQ(order, "root a a1 a11 a2 b c c1 ");

    EXPECT_EQ(root.Parent(), nullptr);
    EXPECT_EQ(root.NextSibling(), nullptr);
    EXPECT_EQ(a.NextSibling()->Name, "b");
    EXPECT_EQ(c.NextSibling(), nullptr);
    EXPECT_EQ(root.FirstChild(), &a);
    EXPECT_EQ(root.LastChild(), &c);
    EXPECT_EQ(a1.FirstChild()->FirstChild(), nullptr);
    EXPECT_EQ(a1.FirstChild()->LastChild(), nullptr);
    EXPECT_EQ(a1.Parent(), &a);
    EXPECT_EQ(root.ChildCount(), 3);
    EXPECT_EQ(root.Child(1)->Name, "b");
    EXPECT_THROW(root.Child(3), std::out_of_range);
    EXPECT_THROW(root.Child(-1), std::out_of_range);

    a.Clear();
    EXPECT_EQ(a.ChildCount(), 0);
    EXPECT_EQ(a.Next()->Name, "b");
}

TEST(ObjectTree, PropertiesByIndexAndAddressesStayValid) {
    TObjectNode node;
    TObjectProperty& first = node.AddProperty();
    first.Name = "First";
    for (int i = 0; i < 1000; ++i) {
        node.AddProperty().Name = "P" + std::to_string(i);
    }
    EXPECT_EQ(first.Name, "First");
    EXPECT_EQ(node.Property(0), &first);
    EXPECT_EQ(node.Property(1000)->Name, "P999");
    EXPECT_EQ(node.Property(1001), nullptr);
    EXPECT_EQ(node.Property(-1), nullptr);
    EXPECT_EQ(node.PropertyCount(), 1001);
    EXPECT_EQ(first.Value, TPropertyValue()) << "a new property is empty";
}

class TRecordingNode : public TNode {
public:
    TRecordingNode(std::string name, std::string& log) : FName(std::move(name)), FLog(log) {}
    ~TRecordingNode() override { FLog += FName + " "; }
    TRecordingNode& Add(const std::string& name) {
        return static_cast<TRecordingNode&>(
            AppendChild(std::make_unique<TRecordingNode>(name, FLog)));
    }

private:
    std::string FName;
    std::string& FLog;
};

TEST(ObjectTree, DestroyingANodeDestroysItsChildrenFirstToLast) {
    std::string log;
    {
        TRecordingNode root("root", log);
        TRecordingNode& a = root.Add("a");
        a.Add("a1");
        a.Add("a2");
        root.Add("b");
    }
    // Each node logs as its destruction begins, before its own children go.
    EXPECT_EQ(log, "root a a1 a2 b ");
}

TEST(ValueTexts, OfEveryKind) {
    EXPECT_EQ(ValueText(TPropertyValue()), "");
    EXPECT_EQ(ValueText(std::int64_t{-42}), "-42");
    EXPECT_EQ(ValueText(std::int64_t{INT64_MIN}), "-9223372036854775808");
    EXPECT_EQ(ValueText(std::string("a\r\nb")), "a\r\nb");
    EXPECT_EQ(ValueText(2.0), "2");
}

TEST(ValueTexts, FloatsAreShortestRoundTripWithoutExponentForOrdinaryMagnitudes) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {0.0, "0"},
        {-0.0, "-0"},
        {1.0, "1"},
        {0.1, "0.1"},
        {1.0 / 3.0, "0.3333333333333333"},
        {-123.25, "-123.25"},
        {1e-5, "0.00001"},
        {9.99e-6, "9.99e-06"},
        {123456789012345.0, "123456789012345"},
        {1e15, "1e+15"},
        {2.5e300, "2.5e+300"},
        {5e-324, "5e-324"},
        {std::numeric_limits<double>::infinity(), "INF"},
        {-std::numeric_limits<double>::infinity(), "-INF"},
        {std::numeric_limits<double>::quiet_NaN(), "NaN"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FloatText(c.value), c.text);
    }
}

TEST(ValueTexts, EveryFloatTextReadsBackToTheSameDouble) {
    std::uint64_t state = 0x9E3779B97F4A7C15ull;
    for (int i = 0; i < 20000; ++i) {
        state = state * 6364136223846793005ull + 1442695040888963407ull;
        const double value = std::bit_cast<double>(state);
        if (!std::isfinite(value)) {
            continue;
        }
        const std::string text = FloatText(value);
        EXPECT_EQ(std::strtod(text.c_str(), nullptr), value) << text;
        EXPECT_EQ(text.find('e') == std::string::npos,
                  value == 0 || (std::fabs(value) >= 1e-5 && std::fabs(value) < 1e15))
            << text;
    }
}

} // namespace
} // namespace kelvara
