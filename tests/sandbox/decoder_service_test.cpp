#include "sandbox/decoder_service.h"

#include <gtest/gtest.h>

#include <variant>

#include "bmp/bmp_file.h"
#include "os/file_io.h"
#include "bmp_by_path.h"
#include "temp_dir.h"
#include "tiff_fixture.h"

namespace tessaro {
namespace {

struct CountingMeter final : FillMeter {
    void Begin(uint64_t mosaicBytes) override {
        total = mosaicBytes;
        ++begins;
    }
    void Add(uint64_t bytes) override { written += bytes; }
    uint64_t total = 0, written = 0;
    int begins = 0;
};

TEST(DecoderService, RelaysTheChildsFillOnceBegunAndNeverPastItsTotal) {
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

TEST(DecoderService, LimitsAndTimeoutFollowTheTestMode) {
    const DecoderLimits limits{uint64_t{1} << 30, 90};
    EXPECT_EQ(LimitsForTestMode(limits, "").cpuSeconds, 90u);
    EXPECT_EQ(LimitsForTestMode(limits, "crash").cpuSeconds, 90u);
    EXPECT_EQ(LimitsForTestMode(limits, "spin").cpuSeconds, 1u);
    EXPECT_EQ(LimitsForTestMode(limits, "spin").addressSpaceBytes, limits.addressSpaceBytes);
    EXPECT_EQ(ReplyTimeoutSeconds(limits), 2 * 90u + 30);
}

TEST(DecoderService, MeasuresAndFillsThroughTheDescriptorsItIsGiven) {
    testing::TempDir tmp;
    testing::WriteTiff(tmp / "1.tif", testing::PatternTile(7, 5, 1));
    testing::WriteTiff(tmp / "2.tif", testing::PatternTile(9, 5, 2));
    std::vector<UniqueFd> tiles;
    tiles.push_back(OpenToRead(tmp / "1.tif"));
    tiles.push_back(OpenToRead(tmp / "2.tif"));
    CountingMeter meter;

    DecoderRequest measure;
    measure.index = 1;
    DecoderReply reply = AnswerRequest(measure, tiles, UniqueFd(), &meter, "");
    EXPECT_EQ(reply.ok, 1u);
    EXPECT_EQ(reply.size, (TileSize{9, 5}));
    measure.index = 2;  // no such tile
    EXPECT_EQ(AnswerRequest(measure, tiles, UniqueFd(), &meter, "").ok, 0u);

    const auto layout = CheckTileSizes({{7, 5}, {9, 5}});
    ASSERT_TRUE(std::holds_alternative<TileLayout>(layout));
    DecoderRequest fill;
    fill.op = DecoderOp::fill;
    fill.layout = std::get<TileLayout>(layout);
    EXPECT_EQ(AnswerRequest(fill, tiles, UniqueFd(), &meter, "").ok, 0u);  // no canvas
    std::optional<BmpFile> canvas = CreateBmp24(tmp / "out.bmp", 16, 5);
    ASSERT_TRUE(canvas);
    reply = AnswerRequest(fill, tiles, DuplicateFd(canvas->fd.get()), &meter, "");
    EXPECT_EQ(reply.ok, 1u);
    EXPECT_EQ(reply.outcome, FillOutcome::filled);
    EXPECT_EQ(meter.begins, 1);
    EXPECT_EQ(meter.total, 16u * 5 * 3);
    EXPECT_EQ(meter.written, meter.total);
}

}  // namespace
}  // namespace tessaro
