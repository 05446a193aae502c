#include "sandbox/client_internal.h"

#include <gtest/gtest.h>

#include "counting_meter.h"

namespace tessaro {
namespace {

using testing::CountingMeter;

TEST(DecoderClient, RelaysTheChildsFillOnceBegunAndNeverPastItsTotal) {
    CountingMeter meter;
    bool begun = false;
    uint64_t reported = 0;
    RelayFill(0, 0, &meter, &begun, &reported);  // nothing begun yet
    EXPECT_EQ(meter.begins, 0);
    RelayFill(100, 30, nullptr, &begun, &reported);  // no meter: nothing passed on
    EXPECT_FALSE(begun);
    RelayFill(100, 30, &meter, &begun, &reported);
    RelayFill(100, 30, &meter, &begun, &reported);
    EXPECT_EQ(meter.begins, 1);
    EXPECT_EQ(meter.total, 100u);
    EXPECT_EQ(meter.written, 30u);
    RelayFill(100, 20, &meter, &begun, &reported);  // never backwards
    EXPECT_EQ(meter.written, 30u);
    RelayFill(100, 1000, &meter, &begun, &reported);  // nor past the mosaic, whatever it says
    EXPECT_EQ(meter.written, 100u);
}

}  // namespace
}  // namespace tessaro
