// A program outside the project that links only the structure library and makes an array.
#include <runtime/memory/structures.h>

#include <cstdio>

int main() {
  using namespace zn;
  int32_t* numbers = nullptr;
  if (ArrayCreate(sizeof(int32_t), 5, 0, nullptr, &numbers) == nullptr) return 1;
  for (int32_t i = 0; i < 5; ++i)
    numbers[i] = i * i;
  std::printf("%lld elements, last %d\n", static_cast<long long>(ArrayHeaderOf(numbers)->count),
              numbers[4]);
  ArrayFree(numbers);
  return numbers == nullptr ? 0 : 1;
}
