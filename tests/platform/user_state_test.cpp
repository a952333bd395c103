#include "platform/user_state.h"

#include <gtest/gtest.h>

TEST(UserState, XdgThenHomeThenPasswdAndNeverARelativePath) {
    EXPECT_EQ(StateDirectoryFrom("/x/state", "/home/a", "/pw"), "/x/state");
    EXPECT_EQ(StateDirectoryFrom("relative", "/home/a", "/pw"), "/home/a/.local/state");
    EXPECT_EQ(StateDirectoryFrom(nullptr, "", "/pw"), "/pw/.local/state");
    EXPECT_EQ(StateDirectoryFrom("", nullptr, nullptr), "");
    const std::string exe = ExecutableDirectory();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.back(), '/');
}
