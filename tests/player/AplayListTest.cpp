#include "AplayListUnit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qrv {
namespace {

TEST(AplayList, KeepsEachHandleOnceMostRecentlyRegisteredLast)
{
    enum Op { Add, Remove };
    struct Step {
        Op op;
        uint32_t handle;
    };
    struct Case {
        const char* name;
        std::vector<Step> steps;
        std::vector<std::string> items;
    };
    const Case cases[] = {
        {"registration order", {{Add, 5}, {Add, 9}, {Add, 7}}, {"5", "9", "7"}},
        {"registering again moves to the end", {{Add, 5}, {Add, 9}, {Add, 5}}, {"9", "5"}},
        {"unregistering removes", {{Add, 5}, {Add, 9}, {Remove, 5}}, {"9"}},
        {"unregistering an unknown handle changes nothing", {{Add, 5}, {Remove, 6}}, {"5"}},
        {"unregistering twice", {{Add, 5}, {Remove, 5}, {Remove, 5}}, {}},
        {"handle 0 is a handle like any other", {{Add, 0}, {Add, 1}}, {"0", "1"}},
        {"written unsigned", {{Add, 0xFFFFFFFFu}, {Add, 0x80000000u}}, {"4294967295", "2147483648"}},
        {"a prefix is another handle", {{Add, 12}, {Add, 123}, {Remove, 12}}, {"123"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TAplayList list;
        for (const Step& s : c.steps) {
            if (s.op == Add)
                list.AddPlayer(s.handle);
            else
                list.RemovePlayer(s.handle);
        }
        EXPECT_EQ(list.Items(), c.items);
    }
}

} // namespace
} // namespace qrv
