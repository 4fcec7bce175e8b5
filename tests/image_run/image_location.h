// Where the image build put corvex.bin, and what a test does without it: it
// skips with a message, except under CI, where scripts/test builds the image
// before these tests run and a missing image is a failure.
#ifndef TESTS_IMAGE_RUN_IMAGE_LOCATION_H
#define TESTS_IMAGE_RUN_IMAGE_LOCATION_H

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "tests/support/files.h"

namespace imagetest {

inline std::string ImagePath() {
    return std::string(KIT_IMAGE_DIR) + "/corvex.bin";
}

inline bool UnderCi() {
    const char* ci = std::getenv("CI");
    return ci != nullptr && std::strcmp(ci, "true") == 0;
}

// For a fixture's SetUp: skips (or fails, under CI) when the image is missing.
#define REQUIRE_CORVEX_IMAGE()                                                                \
    do {                                                                                      \
        if (!testsupport::FileExists(imagetest::ImagePath())) {                               \
            if (imagetest::UnderCi()) {                                                       \
                FAIL() << "no corvex image at " << imagetest::ImagePath()                     \
                       << " (CI builds the image preset first)";                              \
            }                                                                                 \
            GTEST_SKIP() << "no corvex image at " << imagetest::ImagePath()                   \
                         << ": build it with cmake --preset image && cmake --build --preset " \
                            "image";                                                          \
        }                                                                                     \
    } while (0)

}  // namespace imagetest

#endif  // TESTS_IMAGE_RUN_IMAGE_LOCATION_H
