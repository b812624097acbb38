#include "SystemCodePage.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <optional>
#include <string>

using namespace qrv;

namespace {

// Sets the variables that choose the code page for one test and puts the old values back.
class CodePageEnvironment : public ::testing::Test {
protected:
    static constexpr const char* Variables[] = {"QRV_CODEPAGE", "LC_ALL", "LC_CTYPE", "LANG"};

    void SetUp() override
    {
        for (const char* name : Variables) {
            const char* value = std::getenv(name);
            m_saved[name] = value ? std::optional<std::string>(value) : std::nullopt;
            unsetenv(name);
        }
    }
    void TearDown() override
    {
        for (const auto& [name, value] : m_saved)
            value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
    }
    static void Set(const char* name, const char* value) { setenv(name, value, 1); }

private:
    std::map<std::string, std::optional<std::string>> m_saved;
};

// "한글" in UTF-8 and in CP949.
const std::string HangulUtf8 = "\xED\x95\x9C\xEA\xB8\x80";
const std::string HangulCp949 = "\xC7\xD1\xB1\xDB";

std::string Repeat(const std::string& text, int count)
{
    std::string result;
    for (int i = 0; i < count; ++i)
        result += text;
    return result;
}

} // namespace

TEST(CodePageForLocale, FollowsLanguageAndTerritory)
{
    struct Case {
        const char* locale;
        const char* codePage;
    } cases[] = {
        {"ko_KR.UTF-8", "CP949"}, {"ko", "CP949"},         {"KO_kr.utf8", "CP949"},
        {"ja_JP.eucJP", "CP932"}, {"ja_JP.UTF-8@x", "CP932"},
        {"zh_CN.UTF-8", "CP936"}, {"zh_SG", "CP936"},      {"zh", "CP936"},
        {"zh_TW.Big5", "CP950"},  {"zh_HK.UTF-8", "CP950"},
        {"en_US.UTF-8", "CP1252"}, {"de_DE@euro", "CP1252"}, {"C", "CP1252"}, {"POSIX", "CP1252"},
        {"C.UTF-8", "CP1252"},    {"", "CP1252"},
        // Languages whose codes merely start like ko/ja/zh are other languages.
        {"kok_IN", "CP1252"},     {"jv_ID", "CP1252"},   {"zu_ZA", "CP1252"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.locale);
        EXPECT_EQ(CodePageForLocale(c.locale), c.codePage);
    }
}

TEST_F(CodePageEnvironment, OverrideBeatsLocaleAndLcAllBeatsLcCtypeBeatsLang)
{
    struct Case {
        const char* codePage;
        const char* lcAll;
        const char* lcCtype;
        const char* lang;
        const char* expected;
    } cases[] = {
        {"CP932", "ko_KR.UTF-8", nullptr, nullptr, "CP932"},
        {nullptr, "ko_KR.UTF-8", "ja_JP.UTF-8", "zh_TW.UTF-8", "CP949"},
        {nullptr, nullptr, "ja_JP.UTF-8", "zh_TW.UTF-8", "CP932"},
        {nullptr, nullptr, nullptr, "zh_TW.UTF-8", "CP950"},
        {nullptr, "", "", "ko_KR.UTF-8", "CP949"}, // empty values do not count
        {"", nullptr, nullptr, "ja_JP", "CP932"},
        {nullptr, nullptr, nullptr, nullptr, "CP1252"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.expected));
        for (const char* name : Variables)
            unsetenv(name);
        const char* values[] = {c.codePage, c.lcAll, c.lcCtype, c.lang};
        for (size_t i = 0; i < 4; ++i)
            if (values[i])
                Set(Variables[i], values[i]);
        EXPECT_EQ(SystemCodePageName(), c.expected);
    }
}

TEST_F(CodePageEnvironment, KoreanRoundTripsThroughCp949)
{
    Set("QRV_CODEPAGE", "CP949");
    const std::string text = "pw " + HangulUtf8 + " 123";
    const std::string bytes = ToSystemCodePage(text);
    EXPECT_EQ(bytes, "pw " + HangulCp949 + " 123");
    EXPECT_EQ(FromSystemCodePage(bytes), text);
}

TEST_F(CodePageEnvironment, LocaleChoosesTheConversion)
{
    Set("LANG", "ko_KR.UTF-8");
    EXPECT_EQ(ToSystemCodePage(HangulUtf8), HangulCp949);
    Set("LANG", "en_US.UTF-8");
    EXPECT_EQ(ToSystemCodePage("\xC3\xA9\xE2\x82\xAC"), "\xE9\x80"); // "é€" in CP1252
}

TEST(CodePageConversion, UnconvertibleAndInvalidInputBecomesQuestionMarks)
{
    struct Case {
        const char* name;
        std::string input;
        const char* codePage;
        bool toCodePage;
        std::string expected;
    } cases[] = {
        {"Korean in CP1252", "a" + HangulUtf8 + "b", "CP1252", true, "a??b"},
        {"stray byte", std::string("a\xFF" "b"), "CP949", true, "a?b"},
        {"UTF-8 cut short at the end", std::string("ab\xED\x95"), "CP949", true, "ab?"},
        {"surrogate: one ? per byte", std::string("a\xED\xA0\x80z"), "CP1252", true, "a???z"},
        {"CP949 lead byte at the end", std::string("ab\xC7"), "CP949", false, "ab?"},
        {"CP1252 undefined byte", std::string("a\x81z"), "CP1252", false, "a?z"},
        {"unknown code page falls back to CP1252", "\xC3\xA9", "NO-SUCH-CODEPAGE", true, "\xE9"},
        {"empty", "", "CP949", true, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string result = c.toCodePage ? ToCodePage(c.input, c.codePage) : FromCodePage(c.input, c.codePage);
        EXPECT_EQ(result, c.expected);
    }
}

TEST(CodePageConversion, EveryByteValueConvertsWithoutFailing)
{
    std::string all;
    for (int b = 0; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    for (const char* codePage : {"CP949", "CP932", "CP936", "CP950", "CP1252"}) {
        SCOPED_TRACE(codePage);
        const std::string text = FromCodePage(all + all, codePage);
        EXPECT_FALSE(text.empty());
        EXPECT_FALSE(ToCodePage(text, codePage).empty());
        EXPECT_FALSE(ToCodePage(all, codePage).empty());
    }
}

TEST_F(CodePageEnvironment, CutToCodePageBytesKeepsWholeCharacters)
{
    const std::string han = "\xED\x95\x9C"; // one Korean character, two bytes in CP949
    struct Case {
        const char* name;
        const char* codePage;
        std::string text;
        size_t maxBytes;
        std::string expected;
    } cases[] = {
        {"9 Korean characters (18 bytes) to 16", "CP949", Repeat(han, 9), 16, Repeat(han, 8)},
        {"odd limit leaves the split character out", "CP949", "a" + Repeat(han, 9), 16, "a" + Repeat(han, 7)},
        {"fits already", "CP949", "ab" + han, 16, "ab" + han},
        {"ASCII", "CP949", "0123456789abcdefXYZ", 16, "0123456789abcdef"},
        {"unconvertible characters count as one '?'", "CP1252", Repeat(han, 20), 16, Repeat(han, 16)},
        {"nothing fits", "CP949", han, 1, ""},
        {"zero", "CP949", "abc", 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Set("QRV_CODEPAGE", c.codePage);
        const std::string cut = CutToCodePageBytes(c.text, c.maxBytes);
        EXPECT_EQ(cut, c.expected);
        EXPECT_LE(ToSystemCodePage(cut).size(), c.maxBytes);
    }
}
