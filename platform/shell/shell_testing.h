// Test controls of the application shell (library zn_shell_testing: linked by tests, never
// installed, never linked into a shipped program).
#pragma once

#include "system/desktop/types.h"

namespace zn {

// ShellTestReset: releases every object the shell holds (the pool, the delegates, the menus),
// and forgets them, so that the start steps can run again and tests can prove that nothing is
// left. The registries and thread slots stay.
void ShellTestReset();

// ShellGadgetLists: every gadget list made so far, or nil before the windows' start step.
desktop::NSMutableArray* ShellGadgetLists();

}  // namespace zn
