#include "audio/pcm_buffer.h"

#include <gtest/gtest.h>

namespace onpu::audio {
namespace {

TEST(PcmBuffer, NormalisesLoudAndQuietBuffersToOnePeakButLeavesSilenceAlone) {
  std::vector<float> quiet = {0.01f, -0.02f, 0.005f};
  normalise_peak(&quiet, 0.5);
  EXPECT_FLOAT_EQ(peak_of(quiet), 0.5f);
  EXPECT_FLOAT_EQ(quiet[0], 0.25f);  // shape kept

  std::vector<float> loud = {3.0f, -4.0f};  // float synthesis can exceed full scale
  normalise_peak(&loud, 0.5);
  EXPECT_FLOAT_EQ(loud[1], -0.5f);

  std::vector<float> silent = {0.0f, 1e-9f, -1e-9f};
  EXPECT_EQ(normalise_peak(&silent, 0.5), 1.0);
  EXPECT_FLOAT_EQ(silent[1], 1e-9f);
}

TEST(PcmBuffer, FadeOutTouchesOnlyTheTailAndEndsAtZeroInEveryChannel) {
  std::vector<float> stereo(20, 1.0f);  // 10 frames
  fade_out(&stereo, 2, 4);
  for (int i = 0; i < 12; ++i) EXPECT_FLOAT_EQ(stereo[i], 1.0f) << i;
  for (int frame = 6; frame < 9; ++frame) {
    EXPECT_GT(stereo[frame * 2], stereo[(frame + 1) * 2]);
    EXPECT_FLOAT_EQ(stereo[frame * 2], stereo[frame * 2 + 1]);
  }
  EXPECT_FLOAT_EQ(stereo[18], 0.0f);
  EXPECT_FLOAT_EQ(stereo[19], 0.0f);

  std::vector<float> short_one(3, 1.0f);
  fade_out(&short_one, 1, 100);
  EXPECT_LT(short_one[0], 1.0f);
  EXPECT_FLOAT_EQ(short_one[2], 0.0f);
}

TEST(PcmBuffer, ConvertsToSixteenBitsWithRoundingAndClamping) {
  std::vector<int16_t> pcm = to_pcm16({0.0f, 1.0f, -1.0f, 2.0f, -2.0f, 0.5f / 32767.0f * 3.0f});
  EXPECT_EQ(pcm, (std::vector<int16_t>{0, 32767, -32767, 32767, -32768, 2}));
  EXPECT_EQ(mix_to_mono({1.0f, 0.0f, -0.5f, -0.5f}), (std::vector<float>{0.5f, -0.5f}));
}

}  // namespace
}  // namespace onpu::audio
