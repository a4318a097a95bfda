// Program menus: the MenuRegistry, its free callback and the lookups by owner window.
//
// A program menu's record owns three platform objects and its menu bar. Freeing the menu whose
// bar is showing brings the DefaultMenuBar back first, so that the application menu's item is
// never released with a menu bar that goes away.
#include <cstdint>

#include "platform/shell/shell.h"
#include "platform/shell/shell_internal.h"
#include "runtime/containers/containers.h"
#include "system/desktop/application.h"
#include "system/desktop/menus.h"
#include "system/desktop/object.h"
#include "system/desktop/windows.h"

namespace zn {

using namespace desktop;

namespace {

ObjectRegistry* menu_registry = nullptr;
ThreadSlot menu_thread_slot = nullptr;

// The first record of the window (whose menu bar may be shown, when asked), with its id.
MenuRecord* FirstMenuOf(NSWindow* window, bool showable, int64_t* id) {
  RegistryFirst(menu_registry);
  while (auto* record = static_cast<MenuRecord*>(RegistryNext(menu_registry, id))) {
    if (record->owner_window == window && (!showable || record->menu_bar_skip == 0)) {
      RegistryDone(menu_registry);
      return record;
    }
  }
  RegistryDone(menu_registry);
  return nullptr;
}

}  // namespace

void MenuStartup() {
  menu_registry = RegistryCreate(sizeof(MenuRecord), 8, MenuFree);
  menu_thread_slot = ThreadSlotCreate(2 * sizeof(int64_t), nullptr, nullptr);
}

void MenuEnd() {
  if (menu_registry == nullptr) {
    return;
  }
  RegistryReleaseAll(menu_registry);
  RegistryFree(menu_registry);
  menu_registry = nullptr;
  ThreadSlotFree(menu_thread_slot);
  menu_thread_slot = nullptr;
}

ObjectRegistry* MenuRegistry() {
  return menu_registry;
}

// Nothing of this system reads the menus' slot yet. Reading it here also keeps the variable, and
// with it the block, alive in an optimised build: a variable that is only written is dropped by
// the optimiser, and the block it held is then lost, not merely kept until the end.
ThreadSlot MenuThreadSlot() {
  return menu_thread_slot;
}

void MenuFree(int64_t menu) {
  auto* record = static_cast<MenuRecord*>(RegistryFreeLookup(menu_registry, menu));
  if (record == nullptr) {
    return;
  }
  if (NSApp != nullptr && record->menu_bar != nullptr && NSApp->mainMenu() == record->menu_bar) {
    InstallMenuBar(internal::ShellDefaultMenuBar(), -1);
  }
  objc_release(record->first);
  objc_release(record->second);
  objc_release(record->third);
  objc_release(record->menu_bar);
  RegistryRelease(menu_registry, menu);
}

void MenuFreeForWindow(NSWindow* window) {
  if (menu_registry == nullptr) {
    return;
  }
  int64_t id = 0;
  if (FirstMenuOf(window, false, &id) != nullptr) {
    MenuFree(id);
  }
}

void ShowMenuBarOfWindow(NSWindow* window) {
  if (menu_registry == nullptr) {
    return;
  }
  int64_t id = 0;
  const MenuRecord* record = FirstMenuOf(window, true, &id);
  if (record != nullptr) {
    InstallMenuBar(record->menu_bar, WindowIdOf(window));
  }
}

void MenuFreeAll() {
  if (menu_registry != nullptr) {
    RegistryReleaseAll(menu_registry);
  }
}

}  // namespace zn
