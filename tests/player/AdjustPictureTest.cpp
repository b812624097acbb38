#include "AdjustPicture.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <numeric>

using namespace qrv;

namespace {

uint8_t Rule(int v, int amount)
{
    const int d = std::abs(127 - v) * amount / 255;
    const int adjusted = v > 127 ? v + d : v - d;
    return static_cast<uint8_t>(std::clamp(adjusted, 0, 255));
}

std::vector<uint8_t> Adjusted(std::vector<uint8_t> bytes, int amount)
{
    AdjustBytes(bytes.data(), bytes.size(), amount);
    return bytes;
}

} // namespace

TEST(AdjustPicture, KnownValues)
{
    struct Case {
        int amount;
        uint8_t in, out;
    } cases[] = {
        {50, 200, 214}, {50, 27, 8}, {50, 127, 127}, {50, 128, 128},
        {100, 0, 0}, {100, 255, 255}, // -49 and 305 are clamped
        {10, 200, 202}, {10, 202, 204}, {20, 200, 205},
        {0, 200, 200}, {255, 0, 0}, {255, 130, 133},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << "amount " << c.amount << ": " << int(c.in));
        EXPECT_EQ(Adjusted({c.in}, c.amount), std::vector<uint8_t>{c.out});
    }
}

TEST(AdjustPicture, EveryByteAndAmountFollowsTheIntegerRule)
{
    // All 256 values at every amount the fast path takes and beyond it, on a run long
    // enough for the vector loops and their tails (a length that is no multiple of 64).
    std::vector<uint8_t> all(256 * 3 + 5);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<uint8_t>(i * 7);
    for (int amount : {1, 2, 5, 37, 50, 99, 100, 254, 255, 256, 511, 512, 1000, -5}) {
        SCOPED_TRACE(amount);
        const auto out = Adjusted(all, amount);
        for (size_t i = 0; i < all.size(); ++i)
            ASSERT_EQ(out[i], Rule(all[i], amount)) << "value " << int(all[i]);
    }
}

TEST(AdjustPicture, EveryVectorFormMatchesTheRule)
{
    std::vector<uint8_t> all(256 * 4 + 13);
    for (size_t i = 0; i < all.size(); ++i)
        all[i] = static_cast<uint8_t>(i * 13 + 1);
    for (auto form : {TAdjustForm::Scalar, TAdjustForm::Avx2, TAdjustForm::Avx512}) {
        for (int amount = 1; amount <= 255; ++amount) {
            auto out = all;
            if (!AdjustBytesWithForm(form, out.data(), out.size(), amount))
                GTEST_SKIP() << "this processor lacks form " << static_cast<int>(form);
            for (size_t i = 0; i < all.size(); ++i)
                ASSERT_EQ(out[i], Rule(all[i], amount)) << "form " << static_cast<int>(form) << " amount " << amount
                                                        << " value " << int(all[i]);
        }
    }
}

TEST(AdjustPicture, SettingsApplyInOrderAsSeparatePasses)
{
    TBitmap24 picture(2, 1);
    std::iota(picture.Bits(), picture.Bits() + 6, uint8_t{197});
    TPictureSettings settings;
    const auto original = picture.Clone();
    ApplyPictureSettings(picture, settings); // all 0: the picture byte for byte
    EXPECT_TRUE(std::equal(picture.Bits(), picture.Bits() + 6, original->Bits()));
    settings.FContrast = 10;
    settings.FSaturation = 10;
    ApplyPictureSettings(picture, settings);
    EXPECT_EQ(picture.Bits()[3], 204); // 200 -> 202 -> 204, not 205 as one pass of 20 gives
}

TEST(TPictureSettings, StepsOfFiveWithinZeroAndHundred)
{
    EXPECT_EQ(TPictureSettings::Raised(95), 100);
    EXPECT_EQ(TPictureSettings::Raised(100), 100);
    EXPECT_EQ(TPictureSettings::Lowered(5), 0);
    EXPECT_EQ(TPictureSettings::Lowered(0), 0);
    TPictureSettings s{15, 20, 25};
    s.Reset();
    EXPECT_TRUE(s.IsNeutral());
}
