#include "platform/registry_file.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using platform::kRegBinary;
using platform::kRegDword;
using platform::kRegSz;
using platform::parse_registry_text;
using platform::RegistryDocument;
using platform::RegistryParseIssue;
using platform::RegistryValue;
using testing::ElementsAre;

std::vector<uint8_t> bytes(std::string_view s) {
    return {s.begin(), s.end()};
}

const RegistryValue* value_of(const RegistryDocument& doc, std::string_view key, std::string_view name) {
    const auto* section = doc.find_key(key);
    return section != nullptr ? section->find_value(name) : nullptr;
}

struct ValueCase {
    std::string line;
    std::string name;
    uint32_t type;
    std::vector<uint8_t> data;
};

TEST(RegistryFile, ReadsEveryValueForm) {
    const std::vector<ValueCase> cases = {
        {R"("Name"="text")", "Name", kRegSz, bytes("text")},
        {R"("Path"="C:\\Program Files\\")", "Path", kRegSz, bytes("C:\\Program Files\\")},
        {R"("Quote"="say \"hi\"")", "Quote", kRegSz, bytes("say \"hi\"")},
        {R"("Empty"="")", "Empty", kRegSz, {}},
        {R"("Root:"="/opt/Quorvane")", "Root:", kRegSz, bytes("/opt/Quorvane")},
        {"\"Ansi\"=\"caf\xe9\"", "Ansi", kRegSz, bytes("caf\xe9")},
        {R"(@="default")", "", kRegSz, bytes("default")},
        {R"("Size"=dword:0000001f)", "Size", kRegDword, {0x1f, 0, 0, 0}},
        {R"("Big"=dword:FFFFFFFE)", "Big", kRegDword, {0xfe, 0xff, 0xff, 0xff}},
        {R"("Short"=dword:20)", "Short", kRegDword, {0x20, 0, 0, 0}},
        {R"("Blob"=hex:01,ff,10)", "Blob", kRegBinary, {0x01, 0xff, 0x10}},
        {R"("None"=hex:)", "None", kRegBinary, {}},
        {"\"Wrapped\"=hex:01,02,\\\n  03,04", "Wrapped", kRegBinary, {1, 2, 3, 4}},
        {R"("Text"=hex(1):41,42,00)", "Text", kRegSz, bytes("AB")},
        {R"("Typed"=hex(4):78,56,34,12)", "Typed", kRegDword, {0x78, 0x56, 0x34, 0x12}},
        {R"("Multi"=hex(7):61,00,62,00,00)", "Multi", 7, {'a', 0, 'b', 0, 0}},
        {R"("Spaced" = "x"   )", "Spaced", kRegSz, bytes("x")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.line);
        std::vector<RegistryParseIssue> issues;
        RegistryDocument doc = parse_registry_text("REGEDIT4\n\n[K]\n" + c.line + "\n", &issues);
        EXPECT_TRUE(issues.empty());
        const RegistryValue* v = value_of(doc, "K", c.name);
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->name, c.name);
        EXPECT_EQ(v->type, c.type);
        EXPECT_EQ(v->data, c.data);
    }
}

TEST(RegistryFile, SkipsUnreadableLinesAndKeepsTheRest) {
    const std::vector<std::string> bad_lines = {
        R"("Name"="unterminated)",
        R"("Name"="bad \escape")",
        R"("Name"="text" trailing)",
        R"("Name"=dword:)",
        R"("Name"=dword:123456789)",
        R"("Name"=dword:zz)",
        R"("Name"=hex:1,2,)",
        R"("Name"=hex:100)",
        R"("Name"=hex(4):01,02)",
        R"("Name"=hex(zz):01)",
        R"("Name"=-)",
        R"("Name")",
        R"(Name="x")",
        R"(@x="y")",
        "\"Name\"=hex:01,\\",
        std::string("\"Name\"=\"nul") + '\0' + "byte\"",
    };
    for (const auto& bad : bad_lines) {
        SCOPED_TRACE(bad);
        std::vector<RegistryParseIssue> issues;
        RegistryDocument doc =
            parse_registry_text("REGEDIT4\n[K]\n\"Before\"=\"1\"\n" + bad + "\n\"After\"=\"2\"\n", &issues);
        ASSERT_EQ(issues.size(), 1u);
        EXPECT_EQ(issues[0].line, 4u);
        EXPECT_EQ(issues[0].text, bad);
        ASSERT_NE(value_of(doc, "K", "Before"), nullptr);
        ASSERT_NE(value_of(doc, "K", "After"), nullptr);
        EXPECT_EQ(value_of(doc, "K", "Name"), nullptr);
        // Written back as a comment, so a hand edit with a typo is not lost.
        EXPECT_THAT(doc.find_key("K")->comments, ElementsAre("; skipped: " + bad));
    }
}

TEST(RegistryFile, LinesBelowAnUnreadableKeyBelongToNoKey) {
    for (const std::string header : {"[A\\\\B]", "[]", "[\\A]", "[A", "[-A]", "[A\\]"}) {
        SCOPED_TRACE(header);
        std::vector<RegistryParseIssue> issues;
        auto doc = parse_registry_text(
            "[Good]\n\"G\"=\"1\"\n" + header + "\n\"X\"=\"2\"\n[Next]\n\"N\"=\"3\"\n", &issues);
        EXPECT_EQ(issues.size(), 2u);  // the header and the value below it
        EXPECT_EQ(value_of(doc, "Good", "X"), nullptr);
        EXPECT_NE(value_of(doc, "Next", "N"), nullptr);
        EXPECT_EQ(doc.keys().size(), 2u);
    }
    std::vector<RegistryParseIssue> issues;
    auto doc = parse_registry_text("\"Orphan\"=\"1\"\n[K]\n", &issues);
    ASSERT_EQ(issues.size(), 1u);
    EXPECT_EQ(issues[0].line, 1u);
    EXPECT_THAT(doc.preamble(), ElementsAre("; skipped: \"Orphan\"=\"1\""));
}

TEST(RegistryFile, NamesCompareWithoutCaseAndKeepTheirFirstCase) {
    auto doc = parse_registry_text(
        "[SOFTWARE\\Brevantic]\n\"ProductName\"=\"A\"\n\"PRODUCTNAME\"=\"B\"\n"
        "[software\\brevantic]\n\"Other\"=dword:1\n");
    ASSERT_EQ(doc.keys().size(), 1u);
    EXPECT_EQ(doc.keys()[0].path, "SOFTWARE\\Brevantic");
    const RegistryValue* v = value_of(doc, "Software\\BREVANTIC", "productname");
    ASSERT_NE(v, nullptr);
    EXPECT_EQ(v->name, "ProductName");
    EXPECT_EQ(v->data, bytes("B"));  // the later line wins, as an import would have it
    EXPECT_NE(value_of(doc, "SOFTWARE\\Brevantic", "other"), nullptr);
}

TEST(RegistryFile, AcceptsWindowsLineEndsAByteOrderMarkAndNoHeader) {
    for (const std::string text : {"REGEDIT4\r\n\r\n[K]\r\n\"V\"=\"x\"\r\n",
                                   "\xEF\xBB\xBFREGEDIT4\n[K]\n\"V\"=\"x\"\n", "[K]\n\"V\"=\"x\""}) {
        std::vector<RegistryParseIssue> issues;
        auto doc = parse_registry_text(text, &issues);
        EXPECT_TRUE(issues.empty());
        const RegistryValue* v = value_of(doc, "K", "V");
        ASSERT_NE(v, nullptr);
        EXPECT_EQ(v->data, bytes("x"));
    }
}

TEST(RegistryFile, KeysAboveAWrittenKeyExist) {
    auto doc = parse_registry_text(
        "[SOFTWARE\\Brevantic\\Quorvane\\SerialPorts]\n[SOFTWARE\\Brevantic\\Rimvale]\n"
        "[SOFTWARE\\Other]\n");
    EXPECT_TRUE(doc.key_exists(""));
    EXPECT_TRUE(doc.key_exists("software"));
    EXPECT_TRUE(doc.key_exists("SOFTWARE\\Brevantic\\Quorvane"));
    EXPECT_FALSE(doc.key_exists("SOFTWARE\\Brev"));
    EXPECT_FALSE(doc.key_exists("SOFTWARE\\Brevantic\\Quorvane\\SerialPorts\\X"));
    EXPECT_THAT(doc.subkey_names(""), ElementsAre("SOFTWARE"));
    EXPECT_THAT(doc.subkey_names("Software\\Brevantic"), ElementsAre("Quorvane", "Rimvale"));
    EXPECT_THAT(doc.subkey_names("SOFTWARE\\Other"), ElementsAre());
}

TEST(RegistryFile, FormatsTheFileAsItHasAlwaysLooked) {
    RegistryDocument doc;
    auto& key = doc.key("SOFTWARE\\Brevantic\\Quorvane");
    key.values.push_back({"ProductName", kRegSz, bytes("Quorvane")});
    key.values.push_back({"DescSize", kRegDword, {0x1f, 0, 0, 0}});
    key.values.push_back({"", kRegSz, bytes("a\\b\"c")});
    EXPECT_EQ(platform::format_registry_text(doc),
              "REGEDIT4\n\n[SOFTWARE\\Brevantic\\Quorvane]\n\"ProductName\"=\"Quorvane\"\n"
              "\"DescSize\"=dword:0000001f\n@=\"a\\\\b\\\"c\"\n");
}

TEST(RegistryFile, WhatIsWrittenReadsBackTheSame) {
    RegistryDocument doc;
    doc.add_preamble_comment("; written by hand");
    auto& key = doc.key("A\\B");
    key.comments.push_back("; note");
    key.values.push_back({"Text", kRegSz, bytes("line one\r\nline two\ttab")});
    key.values.push_back({"Odd \"name\" \\", kRegSz, bytes("x")});
    std::vector<uint8_t> blob(300);
    for (size_t i = 0; i < blob.size(); ++i) blob[i] = static_cast<uint8_t>(i * 7);
    key.values.push_back({"Blob", kRegBinary, blob});
    key.values.push_back({"Expand", 2, bytes("%PATH%")});
    key.values.push_back({"Zero", kRegDword, {0, 0, 0, 0}});
    doc.key("C").values.push_back({"", kRegBinary, {}});
    const std::string text = platform::format_registry_text(doc);
    std::vector<RegistryParseIssue> issues;
    EXPECT_EQ(parse_registry_text(text, &issues), doc);
    EXPECT_TRUE(issues.empty());
    // Long binary data is wrapped, as hand-readable files have it.
    for (size_t start = 0, end; start < text.size(); start = end + 1) {
        end = text.find('\n', start);
        EXPECT_LE(end - start, 80u);
    }
}

TEST(RegistryFile, ValidatesNamesAndPaths) {
    std::string out;
    EXPECT_TRUE(platform::registry_normalize_path("SOFTWARE\\Brevantic\\", out));
    EXPECT_EQ(out, "SOFTWARE\\Brevantic");
    EXPECT_TRUE(platform::registry_normalize_path("", out));
    EXPECT_EQ(out, "");
    for (const std::string& bad :
         std::vector<std::string>{"\\SOFTWARE", "A\\\\B", "A\nB", "-A", std::string(256, 'k')}) {
        EXPECT_FALSE(platform::registry_normalize_path(bad, out)) << bad;
    }
    EXPECT_TRUE(platform::registry_normalize_path(std::string(255, 'k') + "\\x", out));
    EXPECT_TRUE(platform::registry_value_name_valid(""));
    EXPECT_FALSE(platform::registry_value_name_valid("a\nb"));
    EXPECT_FALSE(platform::registry_value_name_valid(std::string("a\0b", 3)));

    std::vector<uint8_t> text = {'a', 'b', 0, 'c'};
    EXPECT_TRUE(platform::registry_normalize_value(kRegSz, text));
    EXPECT_EQ(text, bytes("ab"));
    std::vector<uint8_t> three(3);
    EXPECT_FALSE(platform::registry_normalize_value(kRegDword, three));
    std::vector<uint8_t> huge(platform::kRegistryMaxValueSize + 1);
    EXPECT_FALSE(platform::registry_normalize_value(kRegBinary, huge));
}

}  // namespace
