#include <gtest/gtest.h>

#include "client/messages.h"

TEST(Messages, Placeholder) { EXPECT_EQ(PevraNUV::wire::FormatSigned(-7), u"-7"); }
