// On Windows the tool-level tests are not built: they start the tools with
// posix_spawn. Say so in every test run rather than pass over it in silence.
#include <gtest/gtest.h>

TEST(ToolLevelTests, AreSkippedOnWindows) {
    GTEST_SKIP() << "the tool-level tests start processes the POSIX way; CI runs the Windows "
                    "tools under wine and compares their records byte for byte with the native "
                    "build's";
}
