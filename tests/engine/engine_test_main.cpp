// The engine suites run against the system's real libraries, bound once for the process.
#include <cstdio>

#include <gtest/gtest.h>

#include "FFMPEG/binding/av_binding.h"

namespace {

class BoundLibraries : public ::testing::Environment {
public:
    void SetUp() override {
        ASSERT_TRUE(clipwright::LoadAllLibraries("", true)) << clipwright::LoadErrorText();
    }
};

} // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    ::testing::AddGlobalTestEnvironment(new BoundLibraries);
    return RUN_ALL_TESTS();
}
