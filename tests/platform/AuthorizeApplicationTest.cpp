#include "AuthorizeApplication.h"
#include "ScopedConfigHome.h"
#include "TRegistry.h"

#include <gtest/gtest.h>

using namespace qrv;

namespace {

constexpr const char* ListKey = "\\SYSTEM\\CurrentControlSet\\Services\\SharedAccess\\Parameters\\FirewallPolicy"
                                "\\StandardProfile\\AuthorizedApplications\\List";

std::optional<std::string> Entry(const std::string& path)
{
    TRegistry registry;
    if (!registry.OpenKey(ListKey, false))
        return std::nullopt;
    return registry.ReadString(path);
}

} // namespace

TEST(AuthorizeApplication, WritesTheEntryOnceAndKeepsAnExistingOne)
{
    test::ScopedConfigHome config;
    const std::string player = "/opt/brisa/BrisaPlayer";
    EXPECT_TRUE(AuthorizeApplication("Brisa Player", player));
    EXPECT_EQ(Entry(player), player + ":*:Enabled:Brisa Player");

    // An entry for the same path is kept, whatever name it carries.
    EXPECT_TRUE(AuthorizeApplication("Another Name", player));
    EXPECT_EQ(Entry(player), player + ":*:Enabled:Brisa Player");

    // Each program gets its own entry.
    const std::string audio = "/opt/brisa/CXAPlay";
    EXPECT_TRUE(AuthorizeApplication("Brisa Player Audio Output Process", audio));
    EXPECT_EQ(Entry(audio), audio + ":*:Enabled:Brisa Player Audio Output Process");
    EXPECT_EQ(Entry(player), player + ":*:Enabled:Brisa Player");
}

TEST(AuthorizeApplication, ReplacesAnEmptyEntry)
{
    test::ScopedConfigHome config;
    const std::string player = "/opt/brisa/BrisaPlayer";
    {
        TRegistry registry;
        ASSERT_TRUE(registry.OpenKey(ListKey, true));
        ASSERT_TRUE(registry.WriteString(player, ""));
    }
    EXPECT_TRUE(AuthorizeApplication("Brisa Player", player));
    EXPECT_EQ(Entry(player), player + ":*:Enabled:Brisa Player");
}
