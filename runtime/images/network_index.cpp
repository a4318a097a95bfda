// The learned network as a palette: sorting by green, the green index, and the nearest-colour
// search that maps pixels to palette indices.
//
// The search works on the SearchMap, the palette mapped back into gamma space, so that distances
// are measured in the same space the network learned in.
#include <cstdint>
#include <utility>

#include "runtime/images/images_internal.h"

namespace zn {
namespace {

constexpr double kFarDistance = 1073741824.0;  // 2^30

uint8_t GammaByte(const ColourNetwork* network, double value) {
  return static_cast<uint8_t>(network->GammaTable[NetworkUnbias(value, network->gamma)]);
}

// One candidate of the search. Returns false when its green term alone exceeds the best
// distance: the entries are sorted by green, so every entry beyond it is farther still.
bool SearchConsider(const uint8_t* entry, int32_t index, const int32_t* colour, int32_t alpha,
                    double w, bool blue_first, int32_t* best, double* best_distance) {
  const double dg = static_cast<double>((entry[1] - colour[1]) * (entry[1] - colour[1])) * w;
  if (dg > *best_distance) {
    return false;
  }
  const double dr = static_cast<double>((entry[0] - colour[0]) * (entry[0] - colour[0])) * w;
  const double db = static_cast<double>((entry[2] - colour[2]) * (entry[2] - colour[2])) * w;
  double d = dg + (blue_first ? db : dr);
  if (d < *best_distance) {
    d += blue_first ? dr : db;
    if (d < *best_distance) {
      d += static_cast<double>((entry[3] - alpha) * (entry[3] - alpha));
      if (d < *best_distance) {
        *best = index;
        *best_distance = d;
      }
    }
  }
  return true;
}

}  // namespace

void NetworkBuildIndex(ColourNetwork* network) {
  const auto netsize = static_cast<int32_t>(network->netsize);
  for (int32_t k = 0; k < netsize; ++k) {
    const double* n = network->neurons[k];
    uint8_t* entry = network->SearchMap[k];
    entry[0] = GammaByte(network, n[kNeuronRed]);
    entry[1] = GammaByte(network, n[kNeuronGreen]);
    entry[2] = GammaByte(network, n[kNeuronBlue]);
    entry[3] = static_cast<uint8_t>(NetworkUnbiasAlpha(n[kNeuronAlpha]));
  }
  // Selection sort on green; bias and frequency stay where they are, as learning is over.
  for (int32_t i = 0; i < netsize; ++i) {
    int32_t smallest = i;
    for (int32_t j = i + 1; j < netsize; ++j) {
      if (network->SearchMap[j][1] < network->SearchMap[smallest][1]) {
        smallest = j;
      }
    }
    if (smallest != i) {
      for (int c = 0; c < 4; ++c) {
        std::swap(network->neurons[i][c], network->neurons[smallest][c]);
        std::swap(network->SearchMap[i][c], network->SearchMap[smallest][c]);
      }
    }
  }
  // Each green value points at the middle of the run of entries with that green, or, for greens
  // that no entry has, at the first entry above them.
  int32_t previous = 0;
  int32_t start = 0;
  for (int32_t i = 0; i < netsize; ++i) {
    const int32_t v = network->SearchMap[i][1];
    if (v != previous) {
      network->GreenIndex[previous] = (start + i) / 2;
      for (int32_t u = previous + 1; u < v; ++u) {
        network->GreenIndex[u] = i;
      }
      previous = v;
      start = i;
    }
  }
  network->GreenIndex[previous] = (start + netsize - 1) / 2;
  for (int32_t u = previous + 1; u < 256; ++u) {
    network->GreenIndex[u] = netsize - 1;
  }
}

void NetworkColourMap(const ColourNetwork* network, uint8_t (*palette)[4]) {
  const auto netsize = static_cast<int32_t>(network->netsize);
  for (int32_t k = 0; k < netsize; ++k) {
    const double* n = network->neurons[k];
    palette[k][0] = static_cast<uint8_t>(NetworkUnbias(n[kNeuronRed], network->gamma));
    palette[k][1] = static_cast<uint8_t>(NetworkUnbias(n[kNeuronGreen], network->gamma));
    palette[k][2] = static_cast<uint8_t>(NetworkUnbias(n[kNeuronBlue], network->gamma));
    palette[k][3] = static_cast<uint8_t>(NetworkUnbiasAlpha(n[kNeuronAlpha]));
  }
}

int32_t NetworkSearch(const ColourNetwork* network, int32_t alpha, int32_t blue, int32_t green,
                      int32_t red) {
  int32_t colour[3] = {0, 0, 0};  // red, green, blue in gamma space
  if (alpha != 0) {
    colour[0] = static_cast<int32_t>(network->GammaTable[red & 0xFF]);
    colour[1] = static_cast<int32_t>(network->GammaTable[green & 0xFF]);
    colour[2] = static_cast<int32_t>(network->GammaTable[blue & 0xFF]);
  }
  const double w = ColourImportance(alpha);
  const auto netsize = static_cast<int32_t>(network->netsize);
  int32_t i = network->GreenIndex[colour[1]];
  int32_t j = i - 1;
  int32_t best = 0;
  double best_distance = kFarDistance;
  // Outward from the green bucket, one step up and one step down; the whole search ends as soon
  // as either direction's green term alone rules its entry out.
  while (i < netsize || j >= 0) {
    if (i < netsize) {
      if (!SearchConsider(network->SearchMap[i], i, colour, alpha, w, false, &best,
                          &best_distance)) {
        break;
      }
      ++i;
    }
    if (j >= 0) {
      if (!SearchConsider(network->SearchMap[j], j, colour, alpha, w, true, &best,
                          &best_distance)) {
        break;
      }
      --j;
    }
  }
  return best;
}

}  // namespace zn
