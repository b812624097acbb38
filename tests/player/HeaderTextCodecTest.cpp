#include "HeaderTextCodec.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <optional>
#include <string>

using namespace qrv;

namespace {

std::string Repeat(const std::string& text, int count)
{
    std::string result;
    for (int i = 0; i < count; ++i)
        result += text;
    return result;
}

// QRV_CODEPAGE for the length of one test.
class ScopedCodePage {
public:
    explicit ScopedCodePage(const char* codePage)
    {
        if (const char* old = std::getenv("QRV_CODEPAGE"))
            m_old = old;
        setenv("QRV_CODEPAGE", codePage, 1);
    }
    ~ScopedCodePage() { m_old ? setenv("QRV_CODEPAGE", m_old->c_str(), 1) : unsetenv("QRV_CODEPAGE"); }

private:
    std::optional<std::string> m_old;
};

const std::string Han = "\xED\x95\x9C";           // a Korean character, 3 UTF-8 bytes
const std::string Emoji = "\xF0\x9F\x98\x80";      // 4 UTF-8 bytes

} // namespace

// Worked out by hand from the scrambling rule (state starts at 6481 = 0x1951):
//   '1' 0x31 ^ 0x19 = 0x28 =  40; state = (6481 + 40) * 18211 + 53566 mod 65536 = 56265 (0xDBC9)
//   '2' 0x32 ^ 0xDB = 0xE9 = 233; state = (56265 + 233) * 18211 + 53566 mod 65536 = 23444 (0x5B94)
//   '3' 0x33 ^ 0x5B = 0x68 = 104; state = (23444 + 104) * 18211 + 53566 mod 65536 = 18610 (0x48B2)
//   '4' 0x34 ^ 0x48 = 0x7C = 124
TEST(Password, EncodesAKnownVector)
{
    EXPECT_EQ(EncodePassword("1234"), "040233104124");
    EXPECT_EQ(DecodePassword("040233104124"), "1234");
}

TEST(Password, RoundTripsAnyBytes)
{
    const std::string cases[] = {
        "",
        "a",
        "password",
        std::string("\x80\xFF\x00\x7F", 4),
        "\xC7\xD1\xB1\xDB",            // Korean in CP949
        std::string(16, '\xFF'),
        std::string(16, '\0'),
        "0123456789abcdef",
    };
    for (const std::string& bytes : cases) {
        SCOPED_TRACE(bytes);
        const std::string digits = EncodePassword(bytes);
        EXPECT_EQ(digits.size(), 3 * bytes.size());
        EXPECT_TRUE(std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }));
        EXPECT_EQ(DecodePassword(digits), bytes);
    }
}

TEST(Password, EachByteDependsOnThoseBeforeIt)
{
    // The same byte scrambles differently at different places, and a change early on
    // changes the digits of every later byte.
    const std::string a = EncodePassword("aaaa");
    EXPECT_NE(a.substr(0, 3), a.substr(3, 3));
    const std::string b = EncodePassword("baaa");
    for (size_t group = 0; group < 4; ++group)
        EXPECT_NE(a.substr(group * 3, 3), b.substr(group * 3, 3)) << group;
}

TEST(Password, DecodesShortAndNonNumericGroups)
{
    struct Case {
        const char* name;
        std::string digits;
        std::string expected;
    } cases[] = {
        // A last group of two or one digits is still a byte: "23" is 23, 23 ^ 0xDB = 0xCC.
        {"short last group of two", "04023", "1\xCC"},
        {"short last group of one", "0402", "1\xD9"},
        {"a group above 255 keeps its low 8 bits", "040489", DecodePassword("040233")},
        // A group that is not a number counts as 0 and moves the state on like "000".
        {"letters", "abc233", DecodePassword("000233")},
        {"blank inside", "1 2233", DecodePassword("000233")},
        {"digit then letter", "04x233", DecodePassword("000233")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodePassword(c.digits), c.expected);
    }
    EXPECT_EQ(DecodePassword("000").size(), 1u);
    EXPECT_EQ(DecodePassword("000")[0], '\x19'); // 0 ^ (6481 >> 8)
}

TEST(Base64, EncodesAndDecodesTheRfc4648Vectors)
{
    struct Case {
        const char* bytes;
        const char* text;
    } cases[] = {
        {"", ""},         {"f", "Zg=="},         {"fo", "Zm8="},         {"foo", "Zm9v"},
        {"foob", "Zm9vYg=="}, {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"},
        {"\xFB\xFF\xBF", "+/+/"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(Base64Encode(c.bytes), c.text);
        std::string decoded = "stale";
        EXPECT_TRUE(Base64Decode(c.text, decoded));
        EXPECT_EQ(decoded, c.bytes);
    }
}

TEST(Base64, RejectsWhatIsNotBase64)
{
    for (const char* text : {"Zg=", "Zm9vY", "Zm9v!A==", "Z===", "Zg==Zg==", "Zm=v", "Zm9v\n", "====", "  "}) {
        SCOPED_TRACE(text);
        std::string decoded;
        EXPECT_FALSE(Base64Decode(text, decoded));
    }
}

TEST(Summary, KoreanTextRoundTrips)
{
    const std::string text = "\xED\x95\x9C\xEA\xB8\x80 \xEC\x9A\x94\xEC\x95\xBD"; // "한글 요약"
    const std::string stored = EncodeSummary(text);
    EXPECT_EQ(stored, "7ZWc6riAIOyalOyVvQ==");
    EXPECT_EQ(DecodeSummary(stored), text);
    EXPECT_EQ(EncodeSummary(""), "");
    EXPECT_EQ(DecodeSummary(""), "");
}

TEST(Summary, AStoredFormThatDoesNotDecodeShowsTheStoredCharacters)
{
    ScopedCodePage codePage("CP949");
    struct Case {
        const char* name;
        std::string stored;
        std::string shown;
    } cases[] = {
        {"plain text in the code page", "\xC7\xD1\xB1\xDB", "\xED\x95\x9C\xEA\xB8\x80"},
        {"length not a multiple of four", "abc", "abc"},
        {"Base64 of bytes that are not UTF-8", "/w==", "/w=="},
        {"Base64 of UTF-8 cut inside a character", Base64Encode("\xED\x95"), Base64Encode("\xED\x95")},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(DecodeSummary(c.stored), c.shown);
    }
}

TEST(Summary, AnEncodedFormCutAt255CharactersDoesNotDecodeWhole)
{
    const std::string text = Repeat(Han, 100); // 300 bytes, 400 Base64 characters
    const std::string stored = EncodeSummary(text).substr(0, MaxStoredSummaryChars);
    EXPECT_NE(DecodeSummary(stored), text);
    EXPECT_EQ(DecodeSummary(stored), stored); // it shows the stored characters instead
}

TEST(Summary, CutForStorageFitsAndDecodesBackWhole)
{
    struct Case {
        const char* name;
        std::string text;
        std::string expected;
    } cases[] = {
        {"short text unchanged", "hello " + Han, "hello " + Han},
        {"ASCII cut to 189 bytes", std::string(300, 'x'), std::string(189, 'x')},
        {"exactly 189 bytes", std::string(189, 'y'), std::string(189, 'y')},
        {"three-byte characters: 63 of them", Repeat(Han, 100), Repeat(Han, 63)},
        {"a split character is left out", "a" + Repeat(Han, 100), "a" + Repeat(Han, 62)},
        {"four-byte characters: 47 of them", Repeat(Emoji, 60), Repeat(Emoji, 47)},
        {"invalid bytes become ?", std::string("a\xFF" "b\xED\x95"), "a?b??"},
        {"empty", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string cut = CutSummaryForStorage(c.text);
        EXPECT_EQ(cut, c.expected);
        const std::string stored = EncodeSummary(cut);
        EXPECT_LE(stored.size(), MaxStoredSummaryChars);
        EXPECT_EQ(DecodeSummary(stored), cut);
    }
}
