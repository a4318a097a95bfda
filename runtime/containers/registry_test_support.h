// Test support for registries: registries live until the process ends, so tests take theirs
// apart to keep the live-block count balanced.
#pragma once

#include "runtime/containers/containers.h"
#include "runtime/containers/containers_internal.h"

namespace zn::testing_support {

// RegistryTakeApart: frees every record, node and table of the registry, and the registry.
inline void RegistryTakeApart(ObjectRegistry* registry) {
  for (int64_t i = 0; i < registry->slot_count; ++i) {
    SizedFree(registry->slots[i]);
  }
  while (registry->any_id_list != nullptr) {
    RegistryNode* node = registry->any_id_list;
    registry->any_id_list = node->next;
    SizedFree(node);
  }
  SizedFree(registry->slots);
  SizedFree(registry->live_ids);
  SizedFree(registry);
}

}  // namespace zn::testing_support
