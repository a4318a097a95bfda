// A driver for fuzz targets built without libFuzzer: replays the seed corpus, then mutates its
// entries with a fixed seed for the given number of seconds. CTest runs it on every target so that
// the targets keep building and the seeds keep passing under the sanitizers.
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

using Input = std::vector<uint8_t>;

void Collect(const std::filesystem::path& path, std::vector<Input>* corpus) {
  if (std::filesystem::is_directory(path)) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
      if (entry.is_regular_file()) {
        Collect(entry.path(), corpus);
      }
    }
    return;
  }
  std::ifstream file(path, std::ios::binary);
  corpus->emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

void Run(const Input& input) {
  // A copy in a block of exactly the input's size, so that reading past it shows up.
  auto* copy = new uint8_t[input.empty() ? 1 : input.size()];
  if (!input.empty()) {
    std::memcpy(copy, input.data(), input.size());
  }
  LLVMFuzzerTestOneInput(copy, input.size());
  delete[] copy;
}

Input Mutate(Input input, std::mt19937_64& random) {
  const int edits = 1 + static_cast<int>(random() % 4);
  for (int i = 0; i < edits; ++i) {
    const size_t at = input.empty() ? 0 : random() % input.size();
    switch (random() % 6) {
      case 0:
        if (!input.empty()) {
          input[at] ^= static_cast<uint8_t>(1u << (random() % 8));
        }
        break;
      case 1:
        if (!input.empty()) {
          input[at] = static_cast<uint8_t>(random());
        }
        break;
      case 2:
        input.insert(input.begin() + static_cast<std::ptrdiff_t>(at),
                     static_cast<uint8_t>(random()));
        break;
      case 3:
        if (!input.empty()) {
          input.erase(input.begin() + static_cast<std::ptrdiff_t>(at));
        }
        break;
      case 4:
        input.resize(at);
        break;
      default: {
        static constexpr uint8_t kInteresting[] = {0, 1, 0x7F, 0x80, 0xFF, 0xC3, 0xF0, 0xED};
        if (!input.empty()) {
          input[at] = kInteresting[random() % sizeof kInteresting];
        }
        break;
      }
    }
  }
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  double seconds = 0;
  std::vector<Input> corpus;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], "--seconds=", 10) == 0) {
      seconds = std::stod(argv[i] + 10);
    } else {
      Collect(argv[i], &corpus);
    }
  }
  if (corpus.empty()) {
    corpus.emplace_back();
  }
  for (const Input& input : corpus) {
    Run(input);
  }

  std::mt19937_64 random(20261207);
  const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  uint64_t runs = corpus.size();
  while (std::chrono::steady_clock::now() < end) {
    for (int batch = 0; batch < 64; ++batch, ++runs) {
      Run(Mutate(corpus[random() % corpus.size()], random));
    }
  }
  std::printf("%llu inputs run, %zu from the seed corpus\n", static_cast<unsigned long long>(runs),
              corpus.size());
  return 0;
}
