#include <gtest/gtest.h>

#include "native/VornNative.h"

TEST(Handshake, AlwaysTheSameVersion) {
    for (int i = 0; i < 3; ++i) EXPECT_EQ(RNIGetCompatibleVersion(), 131072);
}
