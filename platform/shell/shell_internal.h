// Internal to the shell: the process-wide objects that the application start step, the menus and
// the test reset share. Not installed.
#pragma once

#include "platform/shell/shell.h"
#include "system/desktop/types.h"

namespace zn::internal {

// The MenuDelegate and the DefaultMenuBar, set by the application start step.
ZnMenuDelegate*& ShellMenuDelegate();
desktop::NSMenu*& ShellDefaultMenuBar();

// ApplicationMenuRelease: releases the application menu and its items and forgets them.
void ApplicationMenuRelease();

// WindowThreadSlotCreate: the windows' thread slot, whose constructor makes the all-lists array.
void WindowThreadSlotCreate();

}  // namespace zn::internal
