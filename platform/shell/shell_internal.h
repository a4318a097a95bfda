// Internal to the shell: the process-wide objects that the application start step, the menus and
// the test controls share. Not installed.
#pragma once

#include "platform/shell/shell.h"
#include "system/desktop/types.h"

namespace zn::internal {

// The MenuDelegate and the DefaultMenuBar, set by the application start step.
ZnMenuDelegate*& ShellMenuDelegate();
desktop::NSMenu*& ShellDefaultMenuBar();
// The application pool, the application's delegate and the open-files routine, set by the
// application start step.
desktop::NSAutoreleasePool*& ShellApplicationPool();
ZnApplicationDelegate*& ShellApplicationDelegate();
OpenFilesRoutine& ShellOpenFilesCallback();

// GadgetListsAll: every gadget list made so far (the thread slot's array), or nil before the
// windows' start step.
desktop::NSMutableArray* GadgetListsAll();

// ApplicationMenuRelease: releases the application menu and its items and forgets them.
void ApplicationMenuRelease();

// ApplicationObjectsRelease: releases every object the shell holds (the pool, the delegates, the
// menus) and forgets them, so that the start steps can run again.
void ApplicationObjectsRelease();

// WindowThreadSlotCreate: the windows' thread slot, whose constructor makes the all-lists array.
void WindowThreadSlotCreate();
// WindowThreadSlotFree: frees the slot, whose destructor releases the array and with it every
// list.
void WindowThreadSlotFree();

}  // namespace zn::internal
