// The check value comparison: only bytes the verify reply delivered can match.
#include "firmware/check_value.h"

#include <gtest/gtest.h>

#include <cstring>
#include <ostream>

#include "firmware/firmware_update.h"

namespace tornelvox {
namespace {

struct DeliveryCase {
    int delivered;
    int mismatches;
};

void PrintTo(const DeliveryCase &c, std::ostream *os) {
    *os << c.delivered << " bytes";
}

class CheckValueDelivery : public ::testing::TestWithParam<DeliveryCase> {};

// The buffer holds the right check value at bytes 7 to 10 throughout, as an earlier reply may
// have left it; a reply that stopped short of them must still fail.
TEST_P(CheckValueDelivery, BytesNotDeliveredNeverMatch) {
    unsigned char reply[kCaptureSize] = {};
    std::memcpy(reply + kCheckValueOffset, FW_CRC, kCheckValueSize);
    EXPECT_EQ(CheckValueMismatches(reply, GetParam().delivered), GetParam().mismatches);
}

INSTANTIATE_TEST_SUITE_P(Replies, CheckValueDelivery,
                         ::testing::Values(DeliveryCase{0, 4}, DeliveryCase{7, 4},
                                           DeliveryCase{9, 2}, DeliveryCase{10, 1},
                                           DeliveryCase{11, 0}, DeliveryCase{64, 0}));

TEST(CheckValue, EachDifferingByteCounts) {
    unsigned char reply[kCaptureSize] = {};
    std::memcpy(reply + kCheckValueOffset, FW_CRC, kCheckValueSize);
    reply[kCheckValueOffset + 1] ^= 0x01;
    reply[kCheckValueOffset + 3] ^= 0x80;
    EXPECT_EQ(CheckValueMismatches(reply, 11), 2);
}

}  // namespace
}  // namespace tornelvox
