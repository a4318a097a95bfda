// The ContainerHooks: the ten operation pointers through which the structure walks reach arrays,
// lists and maps. They live apart from the walks so that the container libraries, which fill
// them at start-up, and the walks, which call them, meet in one plain variable.
#include "runtime/memory/memory.h"
#include "runtime/memory/structures.h"

namespace zn {

// Zero at load: a hook stays null until its library registers it.
ContainerHooks Hooks{};

}  // namespace zn
