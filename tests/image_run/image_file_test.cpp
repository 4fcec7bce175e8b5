// Reading the image header: what the emulator needs from it, checked before
// anything runs, and the shipped image itself.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/image_run/image_location.h"
#include "tools/image-run/image_run.h"

namespace {

void Put32(std::vector<uint8_t>* b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) {
        (*b)[at + i] = static_cast<uint8_t>(v >> (8 * i));
    }
}

std::vector<uint8_t> GoodImage() {
    std::vector<uint8_t> b(0x2000, 0x90);
    Put32(&b, 0x00, imagerun::kImageMagic);
    Put32(&b, 0x04, 0x00140001);
    Put32(&b, 0x08, 0xFFF80000);
    Put32(&b, 0x0C, 0x20);
    Put32(&b, 0x10, 0x2000);
    return b;
}

TEST(ImageFile, HeaderChecks) {
    struct Case {
        const char* name;
        size_t at;  // where to put `value`; SIZE_MAX: cut the file to `value` bytes
        uint32_t value;
        const char* message;  // null: accepted
    };
    const Case cases[] = {
        {"good", 0, imagerun::kImageMagic, nullptr},
        {"too short", SIZE_MAX, 0x10, "too short"},
        {"magic", 0x00, 0x58565244, "not a corvex image"},
        {"version", 0x04, 0x00140002, "header version 2"},
        {"header size", 0x04, 0x00180001, "of 24 bytes"},
        {"size mismatch", 0x10, 0x2004, "the file has 8192"},
        {"unaligned link address", 0x08, 0xFFF80010, "4 KB boundary"},
        {"past 4 GB", 0x08, 0xFFFFF000, "past the top"},
        {"over the emulator's memory", 0x08, 0xFEF10000, "overlaps the emulator"},
        {"entry in the header", 0x0C, 0x10, "entry offset"},
        {"entry past the end", 0x0C, 0x2000, "entry offset"},
        {"top of the space", 0x08, 0xFFFFE000, nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> b = GoodImage();
        if (c.at == SIZE_MAX) {
            b.resize(c.value);
        } else {
            Put32(&b, c.at, c.value);
        }
        imagerun::Image image;
        std::string error;
        bool ok = imagerun::ParseImage("x.bin", b, &image, &error);
        if (c.message == nullptr) {
            EXPECT_TRUE(ok) << error;
            EXPECT_EQ(image.entryOffset, 0x20u);
        } else {
            EXPECT_FALSE(ok);
            EXPECT_EQ(error.rfind("x.bin: ", 0), 0u) << error;
            EXPECT_NE(error.find(c.message), std::string::npos) << error;
        }
    }
    imagerun::Image image;
    std::string error;
    EXPECT_FALSE(imagerun::LoadImage("no-such-image.bin", &image, &error));
    EXPECT_NE(error.find("cannot read"), std::string::npos) << error;
}

class ShippedImage : public testing::Test {
  protected:
    void SetUp() override { REQUIRE_CORVEX_IMAGE(); }
};

TEST_F(ShippedImage, HeaderAsDocumented) {
    imagerun::Image image;
    std::string error;
    ASSERT_TRUE(imagerun::LoadImage(imagetest::ImagePath(), &image, &error)) << error;
    EXPECT_EQ(image.linkAddress, 0xFFF80000u);
    EXPECT_GE(image.entryOffset, imagerun::kHeaderSize);
}

}  // namespace
