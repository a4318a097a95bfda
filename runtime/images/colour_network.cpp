// The colour network's learning: NeuQuant's self-organising map over alpha, blue, green and red.
//
// Colours are learned in a gamma-corrected space (gamma 1.8) so that the dark end, where the eye
// tells more shades apart, gets more neurons; colour differences are weighted by how opaque the
// sample is, since the colour of a nearly transparent pixel hardly shows.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <initializer_list>
#include <iterator>

#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

constexpr double kInitialAlpha = 1024.0;
constexpr double kInitialRadius = 32.0;
constexpr int32_t kRadiusDecrease = 30;
constexpr double kNeighbourScale = 262144.0;  // RadiusPower is in units of 1 / 2^18
constexpr double kFrequencyShare = 1.0 / 1024.0;
constexpr double kBiasScale = 1024.0;
constexpr double kFarDistance = 1073741824.0;  // 2^30: farther than any pair of colours
constexpr int32_t kLearningCycles = 100;

// The primes whose multiples of 4 bytes step through the picture, in the order they are tried.
constexpr uint64_t kStepPrimes[] = {499, 491, 487, 503};

// RadiusPower[m] for the neighbours at distance m of a neuron, in unsigned integer arithmetic so
// that the falloff has the same steps as the classic network.
void FillRadiusPower(ColourNetwork* network, int32_t rad, double alpha) {
  const auto square = static_cast<uint32_t>(rad) * static_cast<uint32_t>(rad);
  for (int32_t m = 0; m < rad; ++m) {
    const uint32_t q =
        ((square - static_cast<uint32_t>(m) * static_cast<uint32_t>(m)) * 256U) / square;
    network->RadiusPower[m] = std::floor(alpha * q);
  }
}

void MoveNeuron(double* neuron, const double* sample, double factor) {
  for (int c = 0; c < 4; ++c) {
    neuron[c] -= factor * (neuron[c] - sample[c]);
  }
}

void MoveNeighbours(ColourNetwork* network, int32_t winner, int32_t rad, const double* sample) {
  const auto netsize = static_cast<int32_t>(network->netsize);
  for (int32_t m = 1; m < rad; ++m) {
    const double power = network->RadiusPower[m];
    // Each component moves by (c - s) * power / 2^18; the order of the two neighbours matters
    // only for floating-point rounding, so keep the classic one: above first, then below.
    for (const int32_t k : {winner + m, winner - m}) {
      if (k < 0 || k >= netsize) {
        continue;
      }
      double* neuron = network->neurons[k];
      for (int c = 0; c < 4; ++c) {
        neuron[c] -= (neuron[c] - sample[c]) * power / kNeighbourScale;
      }
    }
  }
}

}  // namespace

double ColourImportance(int32_t alpha) {
  const double transparency = 1.0 - alpha / 255.0;
  return 1.0 - transparency * transparency;
}

int32_t NetworkUnbias(double value, double gamma) {
  if (value < 0) {
    return 0;
  }
  const double t = std::floor(((255.0 * std::pow(value / 255.0, gamma)) / 255.0) * 256.0);
  return t > 255.0 ? 255 : static_cast<int32_t>(t);
}

int32_t NetworkUnbiasAlpha(double value) {
  if (value < 0) {
    return 0;
  }
  const double t = std::floor((value / 255.0) * 256.0);
  return t > 255.0 ? 255 : static_cast<int32_t>(t);
}

ColourNetwork* NetworkCreate(const uint8_t* picture, uint64_t length, int32_t colours,
                             double gamma) {
  if (colours < 1 || colours > kNetworkMaxColours) {
    return nullptr;
  }
  auto* network = static_cast<ColourNetwork*>(SizedAllocZeroed(sizeof(ColourNetwork)));
  if (network == nullptr) {
    return nullptr;
  }
  network->picture = picture;
  network->length = length;
  network->netsize = static_cast<uint32_t>(colours);
  network->gamma = gamma;
  for (int i = 0; i < 256; ++i) {
    // std::round rounds halves away from zero, as the table wants.
    network->GammaTable[i] = std::round(255.0 * std::pow(i / 255.0, 1.0 / gamma));
  }
  for (int32_t i = 0; i < colours; ++i) {
    const double grey = network->GammaTable[(i * 256) / colours];
    double* neuron = network->neurons[i];
    neuron[kNeuronBlue] = neuron[kNeuronGreen] = neuron[kNeuronRed] = grey;
    // The first sixteen neurons start at rising alphas so that transparency has neurons too.
    neuron[kNeuronAlpha] = i < 16 ? 16.0 * i : 255.0;
    network->frequency[i] = 1.0 / colours;
    network->bias[i] = 0;
  }
  return network;
}

void NetworkFree(ColourNetwork* network) {
  SizedFree(network);
}

uint64_t NetworkLearningStep(uint64_t length) {
  for (const uint64_t prime : kStepPrimes) {
    if (length % prime != 0 || prime == kStepPrimes[std::size(kStepPrimes) - 1]) {
      return 4 * prime;
    }
  }
  return 4 * kStepPrimes[0];  // not reached: the last prime is taken whatever the length
}

int32_t NetworkContest(ColourNetwork* network, double alpha, double blue, double green,
                       double red) {
  const double w = ColourImportance(static_cast<int32_t>(alpha));
  double best_distance = kFarDistance;
  double best_biased_distance = kFarDistance;
  int32_t best = 0;
  int32_t best_biased = 0;
  const auto netsize = static_cast<int32_t>(network->netsize);
  for (int32_t k = 0; k < netsize; ++k) {
    const double* n = network->neurons[k];
    const double bias = network->bias[k];
    // The shortcut: when the blue-and-red part alone already reaches the plain bound, and that
    // part less the neuron's bias reaches the biased bound, neither comparison can succeed
    // (the other terms only add). The bias must be taken off: a positive bias can let a neuron
    // win the biased contest although its plain distance is far.
    const double blue_red =
        std::fabs(n[kNeuronBlue] - blue) * w + std::fabs(n[kNeuronRed] - red) * w;
    if (!(blue_red >= best_distance && blue_red - bias >= best_biased_distance)) {
      const double d =
          blue_red + std::fabs(n[kNeuronGreen] - green) * w + std::fabs(n[kNeuronAlpha] - alpha);
      if (d < best_distance) {
        best_distance = d;
        best = k;
      }
      if (d - bias < best_biased_distance) {
        best_biased_distance = d - bias;
        best_biased = k;
      }
    }
    const double share = network->frequency[k] * kFrequencyShare;
    network->frequency[k] -= share;
    network->bias[k] += share * kBiasScale;
  }
  network->frequency[best] += kFrequencyShare;
  network->bias[best] -= 1.0;
  return best_biased;
}

void NetworkLearn(ColourNetwork* network, int32_t sample_factor) {
  const uint64_t factor = sample_factor < 1 ? 1 : static_cast<uint64_t>(sample_factor);
  const uint64_t length = network->length;
  if (length < 4 * factor) {
    return;
  }
  const int32_t alpha_decrease = 30 + static_cast<int32_t>((factor - 1) / 3);
  const uint64_t samples = length / (4 * factor);
  const uint64_t delta = samples < kLearningCycles ? 1 : samples / kLearningCycles;

  double alpha = kInitialAlpha;
  double radius = kInitialRadius;
  auto rad = static_cast<int32_t>(kInitialRadius);
  FillRadiusPower(network, rad, alpha);

  const uint64_t step = NetworkLearningStep(length);
  const uint8_t* picture = network->picture;
  uint64_t position = 0;
  for (uint64_t i = 1; i <= samples; ++i) {
    const uint8_t* pixel = picture + position;
    double sample[4] = {0, 0, 0, 0};
    if (pixel[3] != 0) {
      sample[kNeuronAlpha] = pixel[3];
      sample[kNeuronBlue] = std::trunc(network->GammaTable[pixel[2]]);
      sample[kNeuronGreen] = std::trunc(network->GammaTable[pixel[1]]);
      sample[kNeuronRed] = std::trunc(network->GammaTable[pixel[0]]);
    }
    const int32_t winner = NetworkContest(network, sample[kNeuronAlpha], sample[kNeuronBlue],
                                          sample[kNeuronGreen], sample[kNeuronRed]);
    MoveNeuron(network->neurons[winner], sample, alpha / kInitialAlpha);
    if (rad != 0) {
      MoveNeighbours(network, winner, rad, sample);
    }

    position += step;
    while (position >= length) {
      position -= length;
    }

    if (i % delta == 0) {
      alpha -= alpha / alpha_decrease;
      radius -= radius / kRadiusDecrease;
      rad = static_cast<int32_t>(radius);
      if (rad <= 1) {
        rad = 0;
      }
      FillRadiusPower(network, rad, alpha);
    }
  }
}

}  // namespace zn
