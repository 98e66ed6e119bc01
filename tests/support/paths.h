// One test instance per pixel loop, named after it: a failure names its path,
// and a path this processor lacks is skipped with a line saying so.
#pragma once

#include "cpu/path.h"

#include <gtest/gtest.h>

#include <string>

namespace pixfold::testing_support {

class OnEveryPath : public testing::TestWithParam<Path> {
  protected:
    void SetUp() override {
        if (!pathAvailable(GetParam())) {
            GTEST_SKIP() << pathName(GetParam()) << " not on this processor";
        }
    }
    Path path() const { return GetParam(); }
};

inline std::string pathTestName(const testing::TestParamInfo<Path>& info) {
    return std::string(pathName(info.param));
}

} // namespace pixfold::testing_support

// Instantiates the TEST_Ps of suite, a class derived from OnEveryPath, once per path.
#define PIXFOLD_ON_EVERY_PATH(suite)                                                               \
    INSTANTIATE_TEST_SUITE_P(Path, suite, testing::ValuesIn(::pixfold::allPaths),                  \
                             ::pixfold::testing_support::pathTestName)
