// What the emulated adapter keeps of its address and says of itself: name pages at one place,
// both places or none, page reads that come back erased, power cycles, and the marker that sets
// it apart from a real adapter.
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "emulator/adapter_flash.h"
#include "firmware/emulator_marker.h"
#include "tests/emulator/emulator_fixture.h"

namespace tornelvox::emulator::testing {
namespace {

using Address = std::array<std::uint8_t, 6>;
constexpr Address kOther = {0x11, 0x22, 0x33, 0x44, 0x55, 0x66};

Bytes Page(const std::optional<Address> &address) {
    return address ? BuildNamePage(*address) : Bytes(kPageSize, 0xFF);
}

struct NamePagesCase {
    const char *name;
    std::uint32_t version;
    bool stored;
    std::optional<Address> other;
    std::optional<Address> at_old;  // expected at 0x7D000
    std::optional<Address> at_new;  // expected at 0xFD000
};

class NamePages : public EmulatorTest, public ::testing::WithParamInterface<NamePagesCase> {};

TEST_P(NamePages, AreWhereTheConfigurationPutsThem) {
    const NamePagesCase &c = GetParam();
    Begin({.version = c.version, .name_page_stored = c.stored, .other_place_address = c.other});
    EXPECT_EQ(adapter->ReadFlash(kOldNamePageAddress, kPageSize), Page(c.at_old));
    EXPECT_EQ(adapter->ReadFlash(kNamePageAddress, kPageSize), Page(c.at_new));
}

const Address kOwn = AdapterConfig{}.bt_address;

INSTANTIATE_TEST_SUITE_P(
    Emulator, NamePages,
    ::testing::Values(
        NamePagesCase{"Old", 0x2FF, true, std::nullopt, kOwn, std::nullopt},
        NamePagesCase{"New", 0x300, true, std::nullopt, std::nullopt, kOwn},
        NamePagesCase{"NoneStored", 0x302, false, std::nullopt, std::nullopt, std::nullopt},
        NamePagesCase{"BothPlaces", 0x302, true, kOther, kOther, kOwn},
        NamePagesCase{"OnlyTheOtherPlace", 0x2FF, false, kOther, std::nullopt, kOther}),
    [](const auto &info) { return std::string(info.param.name); });

TEST_F(EmulatorTest, ErasedPageReadFaultHidesThePageOnce) {
    Begin({.version = kOlderVersion});
    adapter->AddFault({.code = kCodeReadPage, .kind = FaultKind::kErasedPageRead});
    EnterBootLoader();
    const Bytes erased = port->Exchange(PageReadFrame(kNamePageAddress), 4110);
    ASSERT_EQ(erased.size(), 4110u);
    EXPECT_EQ(Bytes(erased.begin() + 15, erased.end()), Bytes(4095, 0xFF));
    const Bytes stored = port->Exchange(PageReadFrame(kNamePageAddress), 4110);
    ASSERT_EQ(stored.size(), 4110u);
    EXPECT_EQ(Bytes(stored.begin() + 15, stored.begin() + 21), Bytes(kOwn.begin(), kOwn.end()));
}

TEST_F(EmulatorTest, PowerCycleLeavesTheBootLoader) {
    Begin();
    EnterBootLoader();
    adapter->PowerCycle();
    EXPECT_FALSE(adapter->InBootLoader());
    EXPECT_TRUE(adapter->FirmwarePresent());
    EXPECT_EQ(port->Exchange(kVersionQuery, 33).size(), 33u);
}

// A real adapter never sends the marker; the emulator does unless told to play a real one.
TEST_F(EmulatorTest, VersionReplyCarriesTheMarkerOnlyWhenIdentifyingItself) {
    for (const bool identifies : {true, false}) {
        Begin({.identifies_as_emulator = identifies});
        const Bytes reply = port->Exchange(kVersionQuery, 33);
        ASSERT_EQ(reply.size(), 33u);
        const std::string text(reply.begin(), reply.end());
        EXPECT_NE(text.find("KQ Version = 302"), std::string::npos) << text;
        EXPECT_EQ(text.find(kEmulatorMarker) != std::string::npos, identifies) << text;
        port.reset();
        adapter.reset();
    }
}

}  // namespace
}  // namespace tornelvox::emulator::testing
