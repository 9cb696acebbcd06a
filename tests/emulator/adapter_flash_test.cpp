// The adapter's NOR flash and its factory content.
#include "emulator/adapter_flash.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "tools/jamcrc.h"

namespace tornelvox::emulator {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::array<std::uint8_t, 6> kAddress = {0xA7, 0x03, 0x11, 0x22, 0x33, 0x44};

TEST(AdapterFlash, ProgrammingOnlyClearsBitsUntilErased) {
    AdapterFlash flash;
    const Bytes first = {0xF0, 0x0F, 0xAA};
    const Bytes second = {0x3C, 0xFF, 0x55};
    ASSERT_TRUE(flash.Program(0x1000, first.data(), first.size()));
    ASSERT_TRUE(flash.Program(0x1000, second.data(), second.size()));
    Bytes out;
    ASSERT_TRUE(flash.Read(0x1000, 3, out));
    EXPECT_EQ(out, (Bytes{0x30, 0x0F, 0x00})) << "a page written twice is the AND of both";

    ASSERT_TRUE(flash.Erase(0x1000, kPageSize));
    ASSERT_TRUE(flash.Program(0x1000, second.data(), second.size()));
    ASSERT_TRUE(flash.Read(0x1000, 3, out));
    EXPECT_EQ(out, second);
}

TEST(AdapterFlash, RefusesRangesBeyondTheChip) {
    AdapterFlash flash;
    const Bytes page(kPageSize, 0x00);
    EXPECT_FALSE(flash.Program(kFlashSize - 100, page.data(), page.size()));
    EXPECT_FALSE(flash.Erase(0xFFFFFFFFu, 2));
    EXPECT_FALSE(flash.Overwrite(kFlashSize, page.data(), 1));
    Bytes out;
    EXPECT_FALSE(flash.Read(kFlashSize - 1, 2, out));
    EXPECT_TRUE(flash.PageErased(255));
    EXPECT_FALSE(flash.PageErased(256));
}

TEST(AdapterFlash, NamePageHoldsAddressNameAndDigits) {
    const Bytes page = BuildNamePage(kAddress);
    ASSERT_EQ(page.size(), kPageSize);
    EXPECT_EQ(Bytes(page.begin(), page.begin() + 6), Bytes(kAddress.begin(), kAddress.end()));
    EXPECT_EQ(std::string(page.begin() + 6, page.begin() + 20), "Tornelvox(3A7)");
    EXPECT_EQ(Bytes(page.begin() + 20, page.begin() + 38), Bytes(18, 0x00));
    EXPECT_EQ(Bytes(page.begin() + 38, page.end()), Bytes(kPageSize - 38, 0xFF));
}

struct FactoryCase {
    std::uint32_t version;
    std::uint32_t name_page;
    std::uint32_t other_place;
};

class FactoryContent : public ::testing::TestWithParam<FactoryCase> {};

TEST_P(FactoryContent, NamePageSitsWhereTheVersionKeepsIt) {
    AdapterFlash flash;
    flash.LoadFactoryContent(GetParam().version, kAddress);
    Bytes page;
    ASSERT_TRUE(flash.Read(GetParam().name_page, kPageSize, page));
    EXPECT_EQ(page, BuildNamePage(kAddress));
    EXPECT_TRUE(flash.PageErased(GetParam().other_place / kPageSize));
    for (std::uint32_t n = 0; n < kCheckedPages; ++n) EXPECT_FALSE(flash.PageErased(n)) << n;
    EXPECT_TRUE(flash.PageErased(kCheckedPages + 1));
    EXPECT_EQ(flash.CheckValue(), tools::JamCrc(flash.Bytes().data(), 0x7D000));
}

INSTANTIATE_TEST_SUITE_P(Versions, FactoryContent,
                         ::testing::Values(FactoryCase{0x2FF, 0x7D000, 0xFD000},
                                           FactoryCase{0x300, 0xFD000, 0x7D000},
                                           FactoryCase{0x603, 0xFD000, 0x7D000}),
                         [](const auto &info) {
                             char name[16];
                             std::snprintf(name, sizeof name, "Version%03X", info.param.version);
                             return std::string(name);
                         });

}  // namespace
}  // namespace tornelvox::emulator
