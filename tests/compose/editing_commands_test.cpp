#include "compose/editing_commands.h"

#include <gtest/gtest.h>
TEST(EditingCommandsTest, Placeholder) {
    EXPECT_EQ("ab", removeAnyCase("a<B>b", "<b>"));
}
