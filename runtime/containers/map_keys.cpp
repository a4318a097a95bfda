// Reading the key of the element an iteration or a find stands on, so that a caller who walks a
// map with MapNext can tell which key each value belongs to.
#include <cstdint>

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"

namespace zn {

const char16_t* MapCurrentKey(const HashMap* map) {
  if (map == nullptr || map->current == nullptr || (map->flags & MapIntegerKeys) != 0) {
    return nullptr;
  }
  return map->current->key.text;
}

int64_t MapCurrentIntegerKey(const HashMap* map) {
  if (map == nullptr || map->current == nullptr || (map->flags & MapIntegerKeys) == 0) {
    return -1;
  }
  return map->current->key.number;
}

}  // namespace zn
