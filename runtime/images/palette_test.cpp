// Tests of palette reduction: the network's tables and start, the learning step and sample factor,
// the contest's shortcut against a full contest, the threshold of black and white, index packing,
// dithering, and resource balance.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"
#include "tests/support/heap_checks.h"

namespace zn {
namespace {

std::vector<uint8_t> Picture(int32_t width, int32_t height, uint32_t seed) {
  std::vector<uint8_t> pixels(static_cast<size_t>(width) * height * 4);
  uint32_t state = seed;
  for (size_t i = 0; i < pixels.size(); i += 4) {
    const size_t x = (i / 4) % width;
    const size_t y = (i / 4) / width;
    state = state * 1664525U + 1013904223U;
    pixels[i] = static_cast<uint8_t>(x * 255 / (width > 1 ? width - 1 : 1));
    pixels[i + 1] = static_cast<uint8_t>(y * 255 / (height > 1 ? height - 1 : 1));
    pixels[i + 2] = static_cast<uint8_t>(state >> 24);
    pixels[i + 3] = 255;
  }
  return pixels;
}

TEST(NetworkCreate, GammaTableEndsAndStartingNeurons) {
  std::vector<uint8_t> picture(64, 0);
  ColourNetwork* network = NetworkCreate(picture.data(), picture.size(), 256, 1.8);
  ASSERT_NE(network, nullptr);
  EXPECT_EQ(network->GammaTable[0], 0.0);
  EXPECT_EQ(network->GammaTable[255], 255.0);
  EXPECT_EQ(network->GammaTable[2], 17.0) << "255 * (2/255)^(1/1.8) rounds to 17";
  for (int i = 1; i < 256; ++i) {
    EXPECT_GE(network->GammaTable[i], network->GammaTable[i - 1]) << "entry " << i;
  }
  for (int i = 0; i < 256; ++i) {
    const double grey = network->GammaTable[i];
    EXPECT_EQ(network->neurons[i][kNeuronBlue], grey) << "neuron " << i;
    EXPECT_EQ(network->neurons[i][kNeuronGreen], grey) << "neuron " << i;
    EXPECT_EQ(network->neurons[i][kNeuronRed], grey) << "neuron " << i;
    EXPECT_EQ(network->neurons[i][kNeuronAlpha], i < 16 ? 16.0 * i : 255.0) << "neuron " << i;
    EXPECT_DOUBLE_EQ(network->frequency[i], 1.0 / 256) << "neuron " << i;
    EXPECT_EQ(network->bias[i], 0.0) << "neuron " << i;
  }
  NetworkFree(network);

  network = NetworkCreate(picture.data(), picture.size(), 16, 1.8);
  ASSERT_NE(network, nullptr);
  for (int i = 0; i < 16; ++i) {
    EXPECT_EQ(network->neurons[i][kNeuronGreen], network->GammaTable[i * 16]) << "neuron " << i;
  }
  EXPECT_EQ(network->neurons[16][kNeuronGreen], 0.0) << "entries beyond netsize stay 0";
  NetworkFree(network);
}

TEST(NetworkUnbias, GammaRoundTripMayComeBackOneStepDarker) {
  EXPECT_EQ(NetworkUnbias(17.0, 1.8), 1);
  EXPECT_EQ(NetworkUnbias(-0.5, 1.8), 0);
  EXPECT_EQ(NetworkUnbias(255.0, 1.8), 255) << "256 is clamped to 255";
  EXPECT_EQ(NetworkUnbiasAlpha(255.0), 255);
  EXPECT_EQ(NetworkUnbiasAlpha(-1.0), 0);
  EXPECT_EQ(NetworkUnbiasAlpha(127.5), 128);
  EXPECT_DOUBLE_EQ(ColourImportance(0), 0.0);
  EXPECT_DOUBLE_EQ(ColourImportance(255), 1.0);
}

TEST(PaletteSampleFactor, GrowsAbove262144PixelsUpToTen) {
  EXPECT_EQ(PaletteSampleFactor(512, 511), 1);
  EXPECT_EQ(PaletteSampleFactor(512, 512), 2);
  EXPECT_EQ(PaletteSampleFactor(1, 1), 1);
  EXPECT_EQ(PaletteSampleFactor(32767, 32767), 10);
}

TEST(NetworkLearningStep, ChoosesThePrimeThatDoesNotDivideTheLength) {
  EXPECT_EQ(NetworkLearningStep(4 * 1000), 4 * 499U);
  EXPECT_EQ(NetworkLearningStep(499 * 8), 1964U) << "a multiple of 499 but not of 491";
  EXPECT_EQ(NetworkLearningStep(499ULL * 491 * 4), 4 * 487U);
  EXPECT_EQ(NetworkLearningStep(499ULL * 491 * 487 * 4), 4 * 503U);
  EXPECT_EQ(NetworkLearningStep(499ULL * 491 * 487 * 503 * 4), 4 * 503U);
}

// The contest without any shortcut, over a copy of the network.
int32_t FullContest(ColourNetwork* n, double a, double b, double g, double r) {
  const double w = ColourImportance(static_cast<int32_t>(a));
  double best_d = 1073741824.0;
  double best_bd = best_d;
  int32_t best = 0;
  int32_t best_biased = 0;
  for (uint32_t k = 0; k < n->netsize; ++k) {
    const double* q = n->neurons[k];
    const double d = std::fabs(q[kNeuronAlpha] - a) +
                     w * (std::fabs(q[kNeuronBlue] - b) + std::fabs(q[kNeuronGreen] - g) +
                          std::fabs(q[kNeuronRed] - r));
    if (d < best_d) {
      best_d = d;
      best = static_cast<int32_t>(k);
    }
    if (d - n->bias[k] < best_bd) {
      best_bd = d - n->bias[k];
      best_biased = static_cast<int32_t>(k);
    }
    const double share = n->frequency[k] / 1024.0;
    n->frequency[k] -= share;
    n->bias[k] += share * 1024.0;
  }
  n->frequency[best] += 1.0 / 1024.0;
  n->bias[best] -= 1.0;
  return best_biased;
}

TEST(NetworkContest, EqualsTheFullContestEvenWithPositiveBias) {
  std::vector<uint8_t> picture(64, 0);
  ColourNetwork* network = NetworkCreate(picture.data(), picture.size(), 16, 1.8);
  ASSERT_NE(network, nullptr);
  // A neuron far away in blue and red but with a large positive bias: its biased distance wins
  // although its blue-and-red part alone is beyond the plain bound.
  network->neurons[9][kNeuronBlue] = 255;
  network->neurons[9][kNeuronRed] = 255;
  network->bias[9] = 5000;
  const auto reference = std::make_unique<ColourNetwork>(*network);
  EXPECT_EQ(NetworkContest(network, 255, 0, 0, 0), 9);
  EXPECT_EQ(FullContest(reference.get(), 255, 0, 0, 0), 9);
  uint32_t state = 7;
  for (int i = 0; i < 2000; ++i) {
    state = state * 1103515245U + 12345U;
    const double a = (state >> 8) & 0xFF;
    const double b = (state >> 16) & 0xFF;
    const double g = (state >> 4) & 0xFF;
    const double r = (state >> 20) & 0xFF;
    const int32_t ours = NetworkContest(network, a, b, g, r);
    ASSERT_EQ(ours, FullContest(reference.get(), a, b, g, r)) << "sample " << i;
    ASSERT_TRUE(
        std::equal(std::begin(network->bias), std::end(network->bias), std::begin(reference->bias)))
        << "biases after sample " << i;
  }
  NetworkFree(network);
}

TEST(PaletteReducerRow, DepthOneThresholdIsStrictlyAbove160) {
  const uint8_t pixels[] = {200, 200, 200, 255, 161, 161, 161, 255, 160, 160, 160, 255,
                            255, 255, 255, 0,   0,   0,   0,   255, 0,   255, 0,   255};
  PaletteReducer* reducer = PaletteReducerCreate(pixels, 6, 1, 32, 24, 1, 0);
  ASSERT_NE(reducer, nullptr);
  EXPECT_EQ(std::memcmp(reducer->palette[0], "\0\0\0\0", 4), 0);
  EXPECT_EQ(reducer->palette[1][0], 255);
  EXPECT_EQ(reducer->palette[1][2], 255);
  EXPECT_EQ(reducer->palette[1][3], 0);
  const uint8_t* row = PaletteReducerRow(reducer, 0);
  ASSERT_NE(row, nullptr);
  // 200 -> 1, 161 -> 1, 160 -> 0, transparent white -> 1, black -> 0, green (182.4) -> 1.
  EXPECT_EQ(row[0], 0b11010100) << "got " << int{row[0]};
  for (int i = 1; i < 14; ++i) {
    EXPECT_EQ(row[i], 0) << "byte " << i << " behind the bits";
  }
  EXPECT_EQ(PaletteReducerRow(reducer, 1), nullptr);
  EXPECT_EQ(PaletteReducerRow(reducer, -1), nullptr);
  PaletteReducerFree(reducer);
}

TEST(PaletteReducerCreate, OneOpaqueColourMapsToOneIndex) {
  for (const int depth : {4, 8}) {
    std::vector<uint8_t> pixels(40 * 30 * 4);
    for (size_t i = 0; i < pixels.size(); i += 4) {
      pixels[i] = 30;
      pixels[i + 1] = 140;
      pixels[i + 2] = 220;
      pixels[i + 3] = 255;
    }
    PaletteReducer* reducer = PaletteReducerCreate(pixels.data(), 40, 30, 32, 160, depth, 0);
    ASSERT_NE(reducer, nullptr);
    const uint8_t* first = PaletteReducerRow(reducer, 0);
    const int first_index = depth == 8 ? first[0] : first[0] >> 4;
    const uint8_t* colour = reducer->palette[first_index];
    EXPECT_NEAR(colour[0], 30, 2) << "depth " << depth;
    EXPECT_NEAR(colour[1], 140, 2) << "depth " << depth;
    EXPECT_NEAR(colour[2], 220, 2) << "depth " << depth;
    for (int r = 0; r < 30; ++r) {
      const uint8_t* row = PaletteReducerRow(reducer, r);
      for (int x = 0; x < 40; ++x) {
        const int index = depth == 8 ? row[x] : (row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F;
        ASSERT_EQ(index, first_index) << "depth " << depth << " row " << r << " x " << x;
      }
    }
    PaletteReducerFree(reducer);
  }
}

TEST(PaletteReducerRow, SixteenColoursStayBelow16AndOddWidthLeavesLowNibbleZero) {
  for (const uint32_t flags : {0U, DitherFlag}) {
    const int32_t width = 37;
    const int32_t height = 23;
    const std::vector<uint8_t> pixels = Picture(width, height, 3);
    PaletteReducer* reducer = PaletteReducerCreate(pixels.data(), width, height, 32, 0, 4, flags);
    ASSERT_NE(reducer, nullptr);
    for (int r = height - 1; r >= 0; --r) {
      const uint8_t* row = PaletteReducerRow(reducer, r);
      ASSERT_NE(row, nullptr);
      EXPECT_EQ(row[width / 2] & 0x0F, 0) << "row " << r << " flags " << flags;
      for (int i = width / 2 + 1; i < width + 8; ++i) {
        ASSERT_EQ(row[i], 0) << "byte " << i << " behind the packed row " << r;
      }
    }
    PaletteReducerFree(reducer);
  }
}

TEST(PaletteReducerRow, DitheringLeavesTheCallersPixelsUnchanged) {
  const int32_t width = 31;
  const int32_t height = 17;
  // Not const: the reducer takes a pointer to const, and it is that promise the test checks.
  std::vector<uint8_t> pixels = Picture(width, height, 11);
  const std::vector<uint8_t> before = pixels;
  for (const int32_t layout : {24, 32}) {
    PaletteReducer* reducer =
        PaletteReducerCreate(pixels.data(), width, height, layout, width * 3, 8, DitherFlag);
    ASSERT_NE(reducer, nullptr);
    EXPECT_EQ(reducer->owns_pixels, 1);
    for (int r = 0; r < height; ++r) {
      ASSERT_NE(PaletteReducerRow(reducer, r), nullptr);
    }
    PaletteReducerFree(reducer);
    EXPECT_EQ(pixels, before) << "layout " << layout;
  }
}

TEST(PaletteReducerRow, IndicesNameNearbyColours) {
  // A picture of four flat colours: every pixel's palette colour lies close to it.
  const int32_t width = 64;
  const int32_t height = 64;
  const uint8_t colours[4][3] = {{250, 10, 10}, {10, 250, 10}, {10, 10, 250}, {128, 128, 128}};
  std::vector<uint8_t> pixels(width * height * 4);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const uint8_t* c = colours[(y / 32) * 2 + x / 32];
      uint8_t* p = &pixels[(y * width + x) * 4];
      std::memcpy(p, c, 3);
      p[3] = 255;
    }
  }
  PaletteReducer* reducer = PaletteReducerCreate(pixels.data(), width, height, 32, 0, 8, 0);
  ASSERT_NE(reducer, nullptr);
  int worst = 0;
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = PaletteReducerRow(reducer, y);
    for (int x = 0; x < width; ++x) {
      const uint8_t* p = &pixels[(y * width + x) * 4];
      const uint8_t* q = reducer->palette[row[x]];
      for (int c = 0; c < 3; ++c) {
        worst = std::max(worst, std::abs(q[c] - p[c]));
      }
    }
  }
  PaletteReducerFree(reducer);
  // Learning is approximate and the light end of the gamma space is coarse (one step there is
  // almost two linear steps), but a flat colour must not end up far from its colour.
  EXPECT_LE(worst, 24) << "largest channel difference between a pixel and its palette colour";
}

TEST(PaletteReducerCreate, RefusesBadArgumentsAndSurvivesEveryAllocationFailure) {
  const std::vector<uint8_t> pixels = Picture(8, 8, 1);
  EXPECT_EQ(PaletteReducerCreate(nullptr, 8, 8, 32, 32, 8, 0), nullptr);
  EXPECT_EQ(PaletteReducerCreate(pixels.data(), 0, 8, 32, 32, 8, 0), nullptr);
  EXPECT_EQ(PaletteReducerCreate(pixels.data(), 8, -1, 32, 32, 8, 0), nullptr);
  EXPECT_EQ(PaletteReducerCreate(pixels.data(), 8, 8, 32, 32, 2, 0), nullptr);
  EXPECT_EQ(PaletteReducerCreate(pixels.data(), 8, 8, 16, 32, 8, 0), nullptr);
  PaletteReducerFree(nullptr);
  const test::LiveBlockGuard live;
  for (const uint32_t flags : {0U, DitherFlag}) {
    for (int64_t successes = 0; successes < 4; ++successes) {
      test::HeapFailAfter(successes);
      PaletteReducer* reducer = PaletteReducerCreate(pixels.data(), 8, 8, 24, 24, 8, flags);
      test::HeapFailNever();
      if (reducer != nullptr) {
        PaletteReducerFree(reducer);
      }
      EXPECT_EQ(live.Change(), 0) << "after " << successes << " successes";
    }
  }
  test::HeapFailAfter(0);
  EXPECT_EQ(PaletteReducerCreate(pixels.data(), 8, 8, 32, 32, 8, 0), nullptr);
  test::HeapFailNever();
}

}  // namespace
}  // namespace zn
