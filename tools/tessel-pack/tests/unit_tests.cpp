// Unit tests of tessel-pack's own logic: the description parser, code-page conversion,
// cabinet member names, the settings-file reader and the JSON writer.
#include "tools/tessel-pack/src/Cabinet.h"
#include "tools/tessel-pack/src/CodePage.h"
#include "tools/tessel-pack/src/Description.h"
#include "tools/tessel-pack/src/Json.h"
#include "tools/tessel-pack/src/SafeWrite.h"
#include "tools/tessel-pack/src/SettingsFile.h"
#include "tools/tessel-pack/src/Util.h"

#include <gtest/gtest.h>

using namespace tpack;

namespace {

bool Parse(const std::string& text, PackageDescription& d, std::string& error)
{
    return ParseDescription(text, "pkg.tpk", "/base", d, error);
}

}  // namespace

TEST(Description, FullExampleParses)
{
    const std::string text =
        "\xEF\xBB\xBF# comment\r\n"
        "; another comment\r\n"
        "[package]\r\n"
        "stub = ../bin/tessel.exe\r\n"
        "output = /abs/out.exe\r\n"
        "CodePage = cp932\r\n"
        "\r\n"
        "[assist]\r\n"
        "executefilename = setup.exe\r\n"
        "ParamManual = \"  /quiet  \"\r\n"
        "ParamSRM =\r\n"
        "SuccessCode = 0;3010\r\n"
        "UseCompression = 1\r\n"
        "[message]\n"
        "IsOk = 0\n"
        "[cabinet]\n"
        "folder = payload dir\n"
        "compression = None\n"
        "[files]\n"
        "docs/MessageInfo.xml\n"
        "Readme.txt = docs/readme.txt\n"
        "\"odd=name.txt\" = docs/odd.txt\n"
        "[group Extra Tools]\n"
        "tool.exe = bin/tool.exe\n";
    PackageDescription d;
    std::string error;
    ASSERT_TRUE(Parse(text, d, error)) << error;
    EXPECT_EQ(d.stub, std::filesystem::path("/base/../bin/tessel.exe"));
    EXPECT_EQ(d.output, std::filesystem::path("/abs/out.exe"));
    EXPECT_FALSE(d.module.has_value());
    EXPECT_EQ(d.codePage, 932);

    ASSERT_EQ(d.assist.size(), 5u);
    EXPECT_EQ(d.assist[0].key, "ExecuteFileName");  // known keys take their canonical spelling
    EXPECT_EQ(d.assist[1].value, "  /quiet  ");      // quotes keep blanks
    EXPECT_EQ(d.assist[2].key, "ParamSRM");
    EXPECT_EQ(d.assist[2].value, "");
    EXPECT_EQ(d.assist[3].value, "0;3010");  // ';' inside a value is not a comment
    EXPECT_EQ(d.assist[4].key, "UseCompression");
    ASSERT_EQ(d.warnings.size(), 1u);  // the unknown key is noted, not refused
    EXPECT_NE(d.warnings[0].find("UseCompression"), std::string::npos);
    ASSERT_EQ(d.message.size(), 1u);
    EXPECT_EQ(d.message[0].line, 15);

    EXPECT_EQ(d.cabinetKind, CabinetKind::Folder);
    EXPECT_EQ(d.cabinetSource, std::filesystem::path("/base/payload dir"));
    EXPECT_EQ(d.compression, CabinetCompression::None);

    ASSERT_EQ(d.files.size(), 3u);
    EXPECT_EQ(d.files[0].entryName, "MessageInfo.xml");
    EXPECT_EQ(d.files[0].source, std::filesystem::path("/base/docs/MessageInfo.xml"));
    EXPECT_EQ(d.files[1].entryName, "Readme.txt");
    EXPECT_EQ(d.files[2].entryName, "odd=name.txt");
    EXPECT_EQ(d.files[2].source, std::filesystem::path("/base/docs/odd.txt"));

    ASSERT_EQ(d.groups.size(), 1u);
    EXPECT_EQ(d.groups[0].name, "Extra Tools");
    ASSERT_EQ(d.groups[0].files.size(), 1u);
    EXPECT_EQ(d.groups[0].files[0].entryName, "tool.exe");
}

TEST(Description, DefaultsWithoutOptionalSections)
{
    PackageDescription d;
    std::string error;
    ASSERT_TRUE(Parse("[assist]\nProductName = x\n", d, error)) << error;
    EXPECT_EQ(d.codePage, 1252);
    EXPECT_EQ(d.cabinetKind, CabinetKind::None);
    EXPECT_TRUE(d.hasAssist);
    EXPECT_FALSE(d.hasMessage);
    EXPECT_TRUE(d.files.empty());
}

TEST(Description, MistakesAreRefusedWithTheirLine)
{
    struct Case {
        const char* text;
        const char* expected;  // in the message, after "pkg.tpk:LINE: "
        int line;
    };
    const Case cases[] = {
        {"stub = x\n", "outside any section", 1},
        {"[package]\n[pakage]\n", "unknown section", 2},
        {"[package\n", "closing ']'", 1},
        {"[package]\nstub = a\nSTUB = b\n", "given twice", 3},
        {"[package]\nstubb = a\n", "unknown key 'stubb'", 2},
        {"[package]\ncodepage = 99999\n", "not supported", 2},
        {"[package]\nstub =\n", "needs a path", 2},
        {"[assist]\nProductName = a\n\nproductname = b\n", "given twice (first on line 2)", 4},
        {"[assist]\nbad key = 1\n", "must consist of", 2},
        {"[assist]\nnovalue\n", "expected 'Key = value'", 2},
        {"[assist]\nProductName = \"unclosed\n", "unbalanced double quotes", 2},
        {"[cabinet]\nfolder = a\nfile = b.cab\n", "not both", 3},
        {"[cabinet]\nfolder = a\ncompression = lzx\n", "not supported", 3},
        {"[cabinet]\ncompression = mszip\n", "needs 'folder", 1},
        {"[cabinet]\nfile = a.cab\ncompression = none\n", "only to a cabinet built from a folder", 1},
        {"[files]\n= path\n", "expected 'EntryName = path'", 2},
        {"[group]\n", "needs a group name", 1},
        {"[group A]\n[group A]\n", "described twice (first on line 1)", 2},
        {"[files]\n[files]\n", "appears twice", 2},
    };
    for (const Case& c : cases) {
        PackageDescription d;
        std::string error;
        EXPECT_FALSE(Parse(c.text, d, error)) << c.text;
        const std::string prefix = "pkg.tpk:" + std::to_string(c.line) + ": ";
        EXPECT_EQ(error.rfind(prefix, 0), 0u) << c.text << " -> " << error;
        EXPECT_NE(error.find(c.expected), std::string::npos) << c.text << " -> " << error;
    }
    PackageDescription d;
    std::string error;
    EXPECT_FALSE(Parse("[assist]\nProductName = \xFF\xFE\n", d, error));
    EXPECT_NE(error.find("not UTF-8"), std::string::npos);
}

TEST(Description, GroupNamesAreExactButSettingKeysIgnoreCase)
{
    PackageDescription d;
    std::string error;
    ASSERT_TRUE(Parse("[group Tools]\na\n[group tools]\nb\n", d, error)) << error;
    EXPECT_EQ(d.groups.size(), 2u);
    ASSERT_TRUE(Parse("[assist]\nSHOWRESULT = 1\n", d, error)) << error;
    ASSERT_NE(FindSetting(d.assist, "ShowResult"), nullptr);
    EXPECT_EQ(FindSetting(d.assist, "showresult")->key, "ShowResult");
}

TEST(CodePage, JapaneseRoundTripAndStrictness)
{
    const std::string text = "\xE3\x83\x86\xE3\x82\xB9\xE3\x83\x88 \xE8\xA3\xBD\xE5\x93\x81";  // "テスト 製品"
    std::string sjis;
    ASSERT_TRUE(Utf8ToCodePage(text, 932, sjis));
    EXPECT_EQ(sjis, "\x83\x65\x83\x58\x83\x67 \x90\xBB\x95\x69");
    std::string back;
    ASSERT_TRUE(CodePageToUtf8(sjis, 932, back));
    EXPECT_EQ(back, text);

    std::string out;
    EXPECT_FALSE(Utf8ToCodePage(text, 1252, out));
    EXPECT_EQ(FirstUnrepresentable(text, 1252), "\xE3\x83\x86");
    EXPECT_EQ(FirstUnrepresentable("abc \xE2\x82\xAC", 932), "\xE2\x82\xAC");  // no euro sign in 932
    EXPECT_EQ(FirstUnrepresentable("abc \xE2\x82\xAC", 1252), "");
    ASSERT_TRUE(Utf8ToCodePage("\xE2\x82\xAC", 1252, out));
    EXPECT_EQ(out, "\x80");
    EXPECT_FALSE(Utf8ToCodePage("\xC3", 1252, out));       // cut UTF-8 is refused, not guessed
    EXPECT_FALSE(CodePageToUtf8("\x81", 1252, out));       // a byte 1252 leaves undefined
    EXPECT_FALSE(CodePageToUtf8("\x83", 932, out));        // a lead byte without its trail
}

TEST(CodePage, ParsesNamesAndNumbers)
{
    int cp = 0;
    EXPECT_TRUE(ParseCodePage("1252", cp));
    EXPECT_EQ(cp, 1252);
    EXPECT_TRUE(ParseCodePage(" CP932 ", cp));
    EXPECT_EQ(cp, 932);
    EXPECT_TRUE(ParseCodePage("utf-8", cp));
    EXPECT_EQ(cp, 65001);
    for (const char* bad : {"", "cp", "12a", "99999", "-1252", "1252.0"})
        EXPECT_FALSE(ParseCodePage(bad, cp)) << bad;
}

TEST(Cabinet, MemberNamesThatCouldLeaveTheFolderAreRefused)
{
    struct Case {
        const char* name;
        const char* relative;  // nullptr: refused
    };
    const Case cases[] = {
        {"setup.exe", "setup.exe"},
        {"sub\\deeper\\data.bin", "sub/deeper/data.bin"},
        {"sub/mixed\\name.txt", "sub/mixed/name.txt"},
        {"\xE6\x97\xA5\xE6\x9C\xAC.txt", "\xE6\x97\xA5\xE6\x9C\xAC.txt"},
        {"..\\evil.txt", nullptr},
        {"sub\\..\\..\\evil.txt", nullptr},
        {"sub\\.\\x", nullptr},
        {"\\abs.txt", nullptr},
        {"/abs.txt", nullptr},
        {"\\\\server\\share\\x", nullptr},
        {"C:\\evil.txt", nullptr},
        {"c:evil.txt", nullptr},
        {"sub\\\\x", nullptr},
        {"sub\\", nullptr},
        {"", nullptr},
        {"CON", nullptr},
        {"a\x01.txt", nullptr},
        {"bad\xFF.txt", nullptr},
    };
    for (const Case& c : cases) {
        std::string relative;
        const bool ok = SafeMemberPath(c.name, relative);
        EXPECT_EQ(ok, c.relative != nullptr) << c.name;
        if (ok && c.relative) {
            EXPECT_EQ(relative, c.relative) << c.name;
        }
    }
}

TEST(SafeWrite, SplitRelativeRefusesClimbing)
{
    std::vector<std::string> parts;
    ASSERT_TRUE(SplitRelative("a/b/c.txt", parts));
    EXPECT_EQ(parts, (std::vector<std::string>{"a", "b", "c.txt"}));
    for (const char* bad : {"", "/a", "a//b", "a/../b", "..", "a/.", "a/"})
        EXPECT_FALSE(SplitRelative(bad, parts)) << bad;
}

TEST(SettingsFile, ComposeAndReadBackLikeTheProfileCall)
{
    const std::string ini = ComposeIni("ParamOption", {{"ExecuteFileName", "abc="}, {"ParamSRM", ""}});
    EXPECT_EQ(ini, "[ParamOption]\r\nExecuteFileName=abc=\r\nParamSRM=\r\n");

    bool found = false;
    const std::string text =
        "[Other]\r\nProductName=wrong\r\n"
        "[paramoption]\r\n ProductName = first \r\nproductname=second\r\n; comment=x\r\nnoequals\r\nEmpty=\r\n"
        "[Later]\r\nShowResult=1\r\n";
    const auto values = ParseIniSection(text, "ParamOption", found);
    EXPECT_TRUE(found);
    ASSERT_EQ(values.size(), 2u);
    EXPECT_EQ(values[0].key, "ProductName");
    EXPECT_EQ(values[0].value, "first");  // the first of a repeated key wins
    EXPECT_EQ(values[1].key, "Empty");
    EXPECT_EQ(values[1].value, "");
    EXPECT_TRUE(ParseIniSection(text, "Missing", found).empty());
    EXPECT_FALSE(found);
}

TEST(SettingsFile, KeyComesFromTheFirstSixteenCharacters)
{
    unsigned char key[16] = {};
    ASSERT_TRUE(SettingKeyFromMd5Text("0123456789ABCDEF0123456789ABCDEF", key));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(key), 16), "0123456789ABCDEF");
    EXPECT_FALSE(SettingKeyFromMd5Text("0123", key));
}

TEST(Json, EscapesControlsQuotesAndBadUtf8)
{
    EXPECT_EQ(JsonWriter::Escape("a\"b\\c\n\t\x01"), "\"a\\\"b\\\\c\\n\\t\\u0001\"");
    EXPECT_EQ(JsonWriter::Escape("\xE6\x97\xA5"), "\"\xE6\x97\xA5\"");
    EXPECT_EQ(JsonWriter::Escape("x\xFFy"), "\"x\xEF\xBF\xBDy\"");
    EXPECT_EQ(JsonWriter::Escape("\xE6\x97"), "\"\xEF\xBF\xBD\xEF\xBF\xBD\"");  // cut sequence

    JsonWriter j;
    j.BeginObject().Key("a").BeginArray().Number(1).String("x").Bool(false).Null().EndArray();
    j.Key("b").BeginObject().EndObject().Key("c").BeginArray().EndArray().EndObject();
    EXPECT_EQ(j.Text(), "{\"a\":[1,\"x\",false,null],\"b\":{},\"c\":[]}");
}

TEST(Util, Utf8Validation)
{
    EXPECT_TRUE(IsValidUtf8("plain \xC3\xA9 \xE6\x97\xA5 \xF0\x9F\x98\x80"));
    for (const char* bad : {"\x80", "\xC3", "\xC0\x80", "\xE0\x80\x80", "\xED\xA0\x80", "\xF4\x90\x80\x80", "\xE6\x97"})
        EXPECT_FALSE(IsValidUtf8(bad)) << testing::PrintToString(bad);
    EXPECT_EQ(GroupDigits(1234567), "1,234,567");
    EXPECT_EQ(GroupDigits(999), "999");
}
