#include "RegFile.h"
#include "ScopedConfigHome.h"
#include "TRegistry.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

using namespace qrv;
using qrv::test::ScopedConfigHome;
namespace fs = std::filesystem;

namespace {

std::string ReadText(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

void WriteText(const fs::path& path, const std::string& text)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << text;
}

// Files in the registry's folder whose names start with `prefix`.
std::vector<fs::path> FilesStartingWith(const std::string& prefix)
{
    std::vector<fs::path> found;
    for (const auto& entry : fs::directory_iterator(RegistryFolder()))
        if (entry.path().filename().string().rfind(prefix, 0) == 0)
            found.push_back(entry.path());
    return found;
}

class RegistryTest : public ::testing::Test {
protected:
    ScopedConfigHome m_home;
};

// --- where the file lives --------------------------------------------------------------

TEST(RegistryLocation, FollowsXdgConfigHomeElseHomeConfig)
{
    struct Case {
        const char* xdg; // null: unset
        const char* expected;
    };
    const Case cases[] = {
        {"/xdg/conf", "/xdg/conf/QRV/registry.reg"},
        {nullptr, "/home/ann/.config/QRV/registry.reg"},
        {"", "/home/ann/.config/QRV/registry.reg"},
        {"relative/conf", "/home/ann/.config/QRV/registry.reg"}, // not absolute: ignored
    };
    const char* oldXdg = std::getenv("XDG_CONFIG_HOME");
    const std::string savedXdg = oldXdg ? oldXdg : "";
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    setenv("HOME", "/home/ann", 1);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.xdg ? c.xdg : "(unset)");
        c.xdg ? setenv("XDG_CONFIG_HOME", c.xdg, 1) : unsetenv("XDG_CONFIG_HOME");
        EXPECT_EQ(RegistryFilePath(), fs::path(c.expected));
    }
    oldXdg ? setenv("XDG_CONFIG_HOME", savedXdg.c_str(), 1) : unsetenv("XDG_CONFIG_HOME");
    setenv("HOME", savedHome.c_str(), 1);
}

// --- typed values ----------------------------------------------------------------------

TEST_F(RegistryTest, StringsAndNumbersReadBackFromTheFile)
{
    const std::vector<std::string> strings = {
        "",
        "plain",
        R"(C:\talks\"quoted"\)",
        "\xED\x95\x9C\xEA\xB8\x80 \xE6\x97\xA5\xE6\x9C\xAC", // Korean and Japanese
        "two\nlines\tand a tab",                              // cannot be quoted
        "\xF0\x9F\x8E\xA5 outside the basic plane",
    };
    const std::vector<int32_t> numbers = {0, 1, 31, -1, INT32_MIN, INT32_MAX};
    {
        TRegistry writer;
        ASSERT_TRUE(writer.OpenKey("Software\\QRV\\Test", true));
        for (size_t i = 0; i < strings.size(); ++i)
            ASSERT_TRUE(writer.WriteString("s" + std::to_string(i), strings[i]));
        for (size_t i = 0; i < numbers.size(); ++i)
            ASSERT_TRUE(writer.WriteInteger("n" + std::to_string(i), numbers[i]));
    }
    TRegistry reader;
    ASSERT_TRUE(reader.OpenKey("\\Software\\QRV\\Test", false));
    for (size_t i = 0; i < strings.size(); ++i) {
        SCOPED_TRACE(strings[i]);
        EXPECT_EQ(reader.ReadString("s" + std::to_string(i)), strings[i]);
    }
    for (size_t i = 0; i < numbers.size(); ++i) {
        SCOPED_TRACE(numbers[i]);
        EXPECT_EQ(reader.ReadInteger("n" + std::to_string(i)), numbers[i]);
    }
}

TEST_F(RegistryTest, FileUsesTheRegNotation)
{
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Software\\QRV\\Player\\1.0", true));
    ASSERT_TRUE(registry.WriteString("FilePath", R"(C:\a "b"\)"));
    ASSERT_TRUE(registry.WriteInteger("Language", 31));
    ASSERT_TRUE(registry.WriteString("Lines", "a\nb"));
    EXPECT_EQ(ReadText(RegistryFilePath()),
              "Windows Registry Editor Version 5.00\n"
              "\n[HKEY_CURRENT_USER\\Software]\n"
              "\n[HKEY_CURRENT_USER\\Software\\QRV]\n"
              "\n[HKEY_CURRENT_USER\\Software\\QRV\\Player]\n"
              "\n[HKEY_CURRENT_USER\\Software\\QRV\\Player\\1.0]\n"
              "\"FilePath\"=\"C:\\\\a \\\"b\\\"\\\\\"\n"
              "\"Language\"=dword:0000001f\n"
              "\"Lines\"=hex(1):61,00,0a,00,62,00,00,00\n");
}

TEST_F(RegistryTest, StringStopsAtItsFirstZeroCharacter)
{
    TRegistry registry;
    ASSERT_TRUE(registry.WriteString("v", std::string("ab\0cd", 5)));
    EXPECT_EQ(registry.ReadString("v"), "ab");
}

TEST_F(RegistryTest, ValueOfAnotherTypeReadsAsMissing)
{
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Software\\T", true));
    ASSERT_TRUE(registry.WriteString("Text", "12"));
    ASSERT_TRUE(registry.WriteInteger("Number", 12));
    EXPECT_EQ(registry.ReadInteger("Text"), std::nullopt);
    EXPECT_EQ(registry.ReadString("Number"), std::nullopt);
    EXPECT_TRUE(registry.ValueExists("Text"));
    EXPECT_TRUE(registry.ValueExists("Number"));
    EXPECT_EQ(registry.ReadInteger("Absent"), std::nullopt);
    EXPECT_FALSE(registry.ValueExists("Absent"));

    // Writing a value of the other type replaces it.
    ASSERT_TRUE(registry.WriteInteger("Text", 7));
    EXPECT_EQ(registry.ReadInteger("Text"), 7);
    EXPECT_EQ(registry.ReadString("Text"), std::nullopt);
}

TEST_F(RegistryTest, ValuesOfOtherTypesInTheFileAreKeptButNotRead)
{
    WriteText(RegistryFilePath(), "Windows Registry Editor Version 5.00\n\n"
                                  "[HKEY_CURRENT_USER\\Software\\T]\n"
                                  "\"Blob\"=hex:01,02,03,\\\n  04,05\n"
                                  "\"Multi\"=hex(7):41,00,00,00,00,00\n");
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Software\\T", false));
    EXPECT_TRUE(registry.ValueExists("Blob"));
    EXPECT_EQ(registry.ReadString("Blob"), std::nullopt);
    EXPECT_EQ(registry.ReadInteger("Blob"), std::nullopt);
    ASSERT_TRUE(registry.WriteInteger("Other", 1));
    const std::string text = ReadText(RegistryFilePath());
    EXPECT_NE(text.find("\"Blob\"=hex:01,02,03,04,05\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\"Multi\"=hex(7):41,00,00,00,00,00\n"), std::string::npos) << text;
}

// --- names -----------------------------------------------------------------------------

TEST_F(RegistryTest, KeysAndValueNamesIgnoreCaseAndKeepTheirWrittenCase)
{
    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey("Software\\QRV\\Player\\\xC3\x84rger", true)); // "Ärger"
        ASSERT_TRUE(registry.WriteString("FilePath", "one"));
    }
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("SOFTWARE\\qrv\\pLAYER\\\xC3\xA4RGER", false)); // "äRGER"
    EXPECT_EQ(registry.CurrentPath(), "HKEY_CURRENT_USER\\Software\\QRV\\Player\\\xC3\x84rger");
    EXPECT_EQ(registry.ReadString("FILEPATH"), "one");
    ASSERT_TRUE(registry.WriteString("filepath", "two"));
    EXPECT_EQ(registry.GetValueNames(), std::vector<std::string>{"FilePath"});
    EXPECT_EQ(registry.ReadString("FilePath"), "two");

    // A child created through a differently spelt parent joins the parent as written first.
    ASSERT_TRUE(registry.OpenKey("\\software\\qrv\\Child", true));
    EXPECT_EQ(registry.CurrentPath(), "HKEY_CURRENT_USER\\Software\\QRV\\Child");
    const std::string text = ReadText(RegistryFilePath());
    EXPECT_EQ(text.find("[HKEY_CURRENT_USER\\software]"), std::string::npos) << text;
    EXPECT_EQ(text.find("filepath"), std::string::npos) << text;
}

// --- keys ------------------------------------------------------------------------------

TEST_F(RegistryTest, OpenKeyCreatesOnlyWhenAsked)
{
    TRegistry registry;
    EXPECT_FALSE(registry.OpenKey("Software\\QRV", false));
    EXPECT_FALSE(fs::exists(RegistryFilePath())) << "a failed open must not create the file";
    EXPECT_EQ(registry.CurrentPath(), "HKEY_CURRENT_USER");

    ASSERT_TRUE(registry.OpenKey("Software\\QRV", true));
    ASSERT_TRUE(registry.OpenKey("Player", true)); // relative to the current key
    EXPECT_EQ(registry.CurrentPath(), "HKEY_CURRENT_USER\\Software\\QRV\\Player");
    for (const char* key : {"\\Software", "\\Software\\QRV", "\\Software\\QRV\\Player"}) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(registry.KeyExists(key));
    }
    EXPECT_FALSE(registry.KeyExists("1.0"));
    EXPECT_FALSE(registry.KeyExists("\\Software\\QRV\\Player\\1.0"));
    EXPECT_EQ(registry.CurrentPath(), "HKEY_CURRENT_USER\\Software\\QRV\\Player");

    registry.CloseKey();
    EXPECT_EQ(registry.CurrentPath(), "HKEY_CURRENT_USER");
    EXPECT_TRUE(registry.KeyExists("Software\\QRV"));
}

TEST_F(RegistryTest, MalformedKeyPathsAndNamesAreRefused)
{
    TRegistry registry;
    for (const char* key : {"Software\\\\QRV", "Soft\nware", "Software\\Q\tRV"}) {
        SCOPED_TRACE(key);
        EXPECT_FALSE(registry.OpenKey(key, true));
    }
    EXPECT_FALSE(registry.WriteString("bad\nname", "x"));
    EXPECT_FALSE(registry.WriteString("v", "not UTF-8 \xFF and a line\n"));
    EXPECT_FALSE(fs::exists(RegistryFilePath()));
}

TEST_F(RegistryTest, DeleteValueRemovesOnlyThatValue)
{
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Software\\T", true));
    ASSERT_TRUE(registry.WriteString("a", "1"));
    ASSERT_TRUE(registry.WriteString("b", "2"));
    EXPECT_TRUE(registry.DeleteValue("A"));
    EXPECT_FALSE(registry.DeleteValue("a"));
    EXPECT_EQ(registry.GetValueNames(), std::vector<std::string>{"b"});
}

TEST_F(RegistryTest, ReadsSeeWritesOfOtherObjectsAtOnce)
{
    TRegistry first, second;
    ASSERT_TRUE(first.OpenKey("Software\\T", true));
    ASSERT_TRUE(second.OpenKey("Software\\T", false));
    ASSERT_TRUE(first.WriteInteger("n", 5));
    EXPECT_EQ(second.ReadInteger("n"), 5);
    ASSERT_TRUE(second.WriteInteger("n", 6));
    EXPECT_EQ(first.ReadInteger("n"), 6);
}

// --- files written elsewhere -----------------------------------------------------------

TEST_F(RegistryTest, AcceptsFilesAsWindowsToolsWriteThem)
{
    // Byte-order mark, CRLF line ends, comments, blank lines, a repeated section, a short
    // dword, upper-case hex digits, the unnamed value, a string as UTF-16LE bytes.
    WriteText(RegistryFilePath(),
              "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n\r\n"
              "; exported\r\n"
              "[HKEY_CURRENT_USER\\Software\\T]\r\n"
              "\"a\"=\"first\"\r\n"
              "@=\"default\"\r\n"
              "\r\n"
              "[HKEY_CURRENT_USER\\Software\\T]\r\n"
              "\"a\"=\"second\"\r\n"
              "\"n\"=dword:1F\r\n"
              "\"w\"=hex(1):48,00,69,\\\r\n"
              "  00,00,00\r\n");
    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Software\\T", false));
    EXPECT_EQ(registry.ReadString("a"), "second");
    EXPECT_EQ(registry.ReadString(""), "default");
    EXPECT_EQ(registry.ReadInteger("n"), 31);
    EXPECT_EQ(registry.ReadString("w"), "Hi");
    EXPECT_TRUE(FilesStartingWith("registry.reg.corrupt-").empty());
}

struct CorruptCase {
    const char* what;
    std::string text;
};

void PrintTo(const CorruptCase& c, std::ostream* out) { *out << c.what; }

class CorruptFileTest : public RegistryTest, public ::testing::WithParamInterface<CorruptCase> {};

TEST_P(CorruptFileTest, IsKeptAsideAndTheRegistryStartsEmpty)
{
    const std::string text = GetParam().text;
    WriteText(RegistryFilePath(), text);

    TRegistry registry;
    EXPECT_FALSE(registry.KeyExists("Software\\T"));
    EXPECT_FALSE(fs::exists(RegistryFilePath()));
    const std::vector<fs::path> aside = FilesStartingWith("registry.reg.corrupt-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(ReadText(aside[0]), text);

    // Writing starts a new, sound file; the kept copy stays.
    ASSERT_TRUE(registry.OpenKey("Software\\T", true));
    ASSERT_TRUE(registry.WriteInteger("n", 1));
    EXPECT_TRUE(TRegistry().KeyExists("Software\\T"));
    EXPECT_EQ(FilesStartingWith("registry.reg.corrupt-").size(), 1u);
}

const std::string Version = "Windows Registry Editor Version 5.00\n";
const std::string Section = "[HKEY_CURRENT_USER\\Software\\T]\n";

INSTANTIATE_TEST_SUITE_P(
    Registry, CorruptFileTest,
    ::testing::Values(CorruptCase{"binary garbage", std::string("\x00\x01\xFF\xFE garbage", 12)},
                      CorruptCase{"no version line", Section + "\"a\"=\"b\"\n"},
                      CorruptCase{"older version line", "REGEDIT4\n" + Section},
                      CorruptCase{"section not closed", Version + "[HKEY_CURRENT_USER\\T\n"},
                      CorruptCase{"empty key name", Version + "[HKEY_CURRENT_USER\\\\T]\n"},
                      CorruptCase{"value before any section", Version + "\"a\"=\"b\"\n"},
                      CorruptCase{"unknown escape", Version + Section + "\"a\"=\"C:\\t\"\n"},
                      CorruptCase{"string not closed", Version + Section + "\"a\"=\"open\n"},
                      CorruptCase{"text after the string", Version + Section + "\"a\"=\"b\" c\n"},
                      CorruptCase{"dword too long", Version + Section + "\"a\"=dword:123456789\n"},
                      CorruptCase{"dword not hex", Version + Section + "\"a\"=dword:12g4\n"},
                      CorruptCase{"hex byte too long", Version + Section + "\"a\"=hex:123\n"},
                      CorruptCase{"hex continued past the end", Version + Section + "\"a\"=hex:12,\\\n"},
                      CorruptCase{"deleted value", Version + Section + "\"a\"=-\n"},
                      CorruptCase{"deleted key", Version + "[-HKEY_CURRENT_USER\\Software\\T]\n"},
                      CorruptCase{"stray line", Version + Section + "a=b\n"}),
    [](const ::testing::TestParamInfo<CorruptCase>& param) {
        std::string name;
        for (char c : std::string(param.param.what))
            name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
        return name;
    });

TEST_F(RegistryTest, AbsurdlyLargeFileIsKeptAsideUnread)
{
    // A sound start, then a (sparse) tail past the limit.
    WriteText(RegistryFilePath(), Version + Section + "\"a\"=\"b\"\n");
    ASSERT_EQ(truncate(RegistryFilePath().c_str(), static_cast<off_t>(RegistryMaxFileBytes) + 1), 0);

    TRegistry registry;
    EXPECT_FALSE(registry.KeyExists("Software\\T"));
    EXPECT_EQ(FilesStartingWith("registry.reg.corrupt-").size(), 1u);
}

TEST_F(RegistryTest, SecondCorruptFileInTheSameSecondGetsItsOwnName)
{
    for (int i = 0; i < 2; ++i) {
        WriteText(RegistryFilePath(), "garbage " + std::to_string(i));
        EXPECT_FALSE(TRegistry().KeyExists("Software"));
    }
    EXPECT_EQ(FilesStartingWith("registry.reg.corrupt-").size(), 2u);
}

TEST_F(RegistryTest, UnreadableFileIsNeitherReplacedNorSetAside)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "file permissions do not bind the superuser";
    WriteText(RegistryFilePath(), Version + Section + "\"a\"=\"b\"\n");
    ASSERT_EQ(chmod(RegistryFilePath().c_str(), 0), 0);

    TRegistry registry;
    EXPECT_FALSE(registry.OpenKey("Software\\T", true));
    EXPECT_FALSE(registry.WriteString("a", "lost"));
    ASSERT_EQ(chmod(RegistryFilePath().c_str(), 0600), 0);
    EXPECT_EQ(ReadText(RegistryFilePath()), Version + Section + "\"a\"=\"b\"\n");
    EXPECT_TRUE(FilesStartingWith("registry.reg.corrupt-").empty());
}

// --- two processes ---------------------------------------------------------------------

TEST_F(RegistryTest, TwoProcessesWritingAtOnceLoseNoValue)
{
    constexpr int WritesEach = 200;
    const auto writeAll = [&](const char* prefix) {
        TRegistry registry;
        if (!registry.OpenKey("Software\\Race", true))
            return false;
        for (int i = 0; i < WritesEach; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "%s%03d", prefix, i);
            if (!registry.WriteInteger(name, i) || !registry.WriteInteger("Shared", i))
                return false;
            // A torn file would read as corrupt and drop everything, the own value first.
            if (registry.ReadInteger(name) != i)
                return false;
        }
        return true;
    };

    const pid_t child = fork();
    ASSERT_NE(child, -1);
    if (child == 0)
        _exit(writeAll("C") ? 0 : 1);
    const bool parentOk = writeAll("P");
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(parentOk);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);

    TRegistry registry;
    ASSERT_TRUE(registry.OpenKey("Software\\Race", false));
    EXPECT_EQ(registry.GetValueNames().size(), 2u * WritesEach + 1);
    for (const char* prefix : {"C", "P"})
        for (int i = 0; i < WritesEach; ++i) {
            char name[16];
            std::snprintf(name, sizeof name, "%s%03d", prefix, i);
            ASSERT_EQ(registry.ReadInteger(name), i) << name;
        }
    EXPECT_EQ(registry.ReadInteger("Shared"), WritesEach - 1);
    EXPECT_TRUE(FilesStartingWith("registry.reg.corrupt-").empty());
    EXPECT_TRUE(FilesStartingWith("registry.reg.tmp-").empty());
}

} // namespace
