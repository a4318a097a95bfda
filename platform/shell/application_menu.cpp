// The standard application menu, the installation of menu bars, and the menu delegate that turns
// menu commands into menu events (type 1).
//
// The application menu is built once and its item moves from menu bar to menu bar: the platform
// lets an item belong to one menu only, so every install takes it out of the current main menu
// before inserting it into the new one.
#include <cstdint>
#include <string_view>

#include "platform/shell/shell.h"
#include "platform/shell/shell_internal.h"
#include "runtime/events/events.h"
#include "system/desktop/application.h"
#include "system/desktop/foundation.h"
#include "system/desktop/menus.h"
#include "system/desktop/object.h"
#include "system/desktop/windows.h"

namespace zn {

using namespace desktop;

namespace {

ApplicationMenuItems items = {};

void ItemsRelease(const ApplicationMenuItems& held) {
  objc_release(held.apple_menu_item);
  objc_release(held.about_item);
  objc_release(held.preferences_item);
  objc_release(held.quit_item);
  objc_release(held.services_menu);
  objc_release(held.application_menu);
}

// A new item holding one reference, or nil when it (or its title) could not be made.
NSMenuItem* NewItem(NSString* title, SEL action, std::u16string_view key) {
  NSString* key_equivalent = NSSTR(key);
  if (title == nullptr || key_equivalent == nullptr) {
    return nullptr;
  }
  return objc_msgSend(objc_alloc<NSMenuItem>(), &NSMenuItem::initWithTitle, title, action,
                      key_equivalent);
}

// Whether the item is in the menu now: a menu that cannot grow leaves it out.
bool Added(NSMenu* menu, NSMenuItem* item) {
  if (item == nullptr) {
    return false;
  }
  menu->addItem(item);
  return item->menu() == menu;
}

// Adds a new item and leaves the menu as its only owner; nil when it could not be added.
NSMenuItem* AddItem(NSMenu* menu, NSString* title, SEL action, std::u16string_view key) {
  NSMenuItem* item = NewItem(title, action, key);
  const bool added = Added(menu, item);
  objc_release(item);
  return added ? item : nullptr;
}

bool AddSeparator(NSMenu* menu) {
  return Added(menu, NSMenuItem::separatorItem());
}

// The program's name: the last path component of the executable; nil when memory runs out.
NSString* ProgramName() {
  NSString* path = objc_msgSend(NSBundle::mainBundle(), &NSBundle::executablePath);
  NSArray* parts = objc_msgSend(path, &NSString::componentsSeparatedByString, NSSTR(u"/"));
  return parts == nullptr ? nullptr
                          : static_cast<NSString*>(parts->objectAtIndex(parts->count() - 1));
}

// Builds the application menu with its eleven entries into `built`; false as soon as one part
// cannot be made (what was made is in `built`, for the caller to release).
bool ApplicationMenuBuild(ApplicationMenuItems& built) {
  NSString* name = ProgramName();
  NSMenu* menu = built.application_menu =
      objc_msgSend(objc_alloc<NSMenu>(), &NSMenu::initWithTitle, NSSTR(u""));
  if (name == nullptr || menu == nullptr) {
    return false;
  }
  built.about_item = NewItem(NSString::stringWithFormat(u"About %@", {name}), "about:", u"");
  if (!Added(menu, built.about_item) || !AddSeparator(menu)) {
    return false;
  }
  built.preferences_item = NewItem(NSString::stringWithFormat(u"Preferences%C", {char16_t{0x2026}}),
                                   "preferences:", u",");
  if (!Added(menu, built.preferences_item) || !AddSeparator(menu)) {
    return false;
  }
  NSMenuItem* services = AddItem(menu, NSSTR(u"Services"), SEL(), u"");
  built.services_menu =
      objc_msgSend(objc_alloc<NSMenu>(), &NSMenu::initWithTitle, NSSTR(u"Services"));
  if (services == nullptr || built.services_menu == nullptr) {
    return false;
  }
  services->setSubmenu(built.services_menu);
  if (!AddSeparator(menu) ||
      AddItem(menu, NSString::stringWithFormat(u"Hide %@", {name}), "hide:", u"h") == nullptr) {
    return false;
  }
  NSMenuItem* hide_others = AddItem(menu, NSSTR(u"Hide Others"), "hideOtherApplications:", u"h");
  if (hide_others == nullptr) {
    return false;
  }
  hide_others->setKeyEquivalentModifierMask(NSEventModifierFlagCommand | NSEventModifierFlagOption);
  if (AddItem(menu, NSSTR(u"Show All"), "unhideAllApplications:", u"") == nullptr ||
      !AddSeparator(menu)) {
    return false;
  }
  built.quit_item = NewItem(NSString::stringWithFormat(u"Quit %@", {name}), "terminate:", u"q");
  if (built.quit_item == nullptr) {
    return false;
  }
  // Only the Quit item has a target; the others go along the responder chain.
  built.quit_item->setTarget(internal::ShellMenuDelegate());
  if (!Added(menu, built.quit_item)) {
    return false;
  }
  built.apple_menu_item = NewItem(NSSTR(u"Apple"), SEL(), u"");
  if (built.apple_menu_item == nullptr) {
    return false;
  }
  built.apple_menu_item->setSubmenu(menu);
  return true;
}

}  // namespace

namespace internal {

void ApplicationMenuRelease() {
  const ApplicationMenuItems held = items;
  items = {};
  ItemsRelease(held);
}

}  // namespace internal

ApplicationMenuItems ApplicationMenu() {
  return items;
}

NSMenu* BuildApplicationMenu() {
  auto* menu_bar = objc_alloc<NSMenu>();
  if (menu_bar == nullptr || items.application_menu != nullptr) {
    return menu_bar;
  }
  // All or nothing: a menu missing some of its entries would stay so for the rest of the
  // process, while one not built at all is built whole by the next call.
  ApplicationMenuItems built = {};
  if (!ApplicationMenuBuild(built)) {
    ItemsRelease(built);
    objc_release(menu_bar);
    return nullptr;
  }
  items = built;
  return menu_bar;
}

void InstallMenuBar(NSMenu* menu_bar, int64_t window) {
  NSMenuItem* apple = items.apple_menu_item;
  NSMenu* current = NSApp == nullptr ? nullptr : NSApp->mainMenu();
  const int64_t was_at = current == nullptr ? -1 : current->indexOfItem(apple);
  if (current != nullptr) {
    current->removeItem(apple);
  }
  if (menu_bar != nullptr && apple != nullptr) {
    menu_bar->insertItemAtIndex(apple, 0);
    if (apple->menu() == nullptr) {
      // The new menu bar had no room for the item: it goes back where it was (its old menu kept
      // the room) and nothing changes, rather than leaving a menu bar without the application
      // menu.
      if (was_at >= 0) {
        current->insertItemAtIndex(apple, was_at);
      }
      return;
    }
  }
  if (NSApp != nullptr) {
    NSApp->setMainMenu(menu_bar);
  }
  if (internal::ShellMenuDelegate() != nullptr) {
    internal::ShellMenuDelegate()->setWindowID(window);
  }
}

// ---------------------------------------------------------------------------------------------
// ZnMenuDelegate.

void ZnMenuDelegate::preferences(NSObject* /*sender*/) {
  EventPostSimple(EventTypeMenu, MenuItemPreferences, WindowID, EventSubtypeNone);
}

void ZnMenuDelegate::about(NSObject* /*sender*/) {
  EventPostSimple(EventTypeMenu, MenuItemAbout, WindowID, EventSubtypeNone);
}

void ZnMenuDelegate::terminate(NSObject* /*sender*/) {
  EventPostSimple(EventTypeMenu, MenuItemQuit, WindowID, EventSubtypeNone);
}

void ZnMenuDelegate::eventHandler(NSMenuItem* item) {
  if (item == nullptr) {
    return;
  }
  const auto* object = dynamic_cast<const ZnMenuObject*>(item->representedObject());
  const MenuRecord* menu = object == nullptr ? nullptr : object->Menu;
  // An item without a program menu behind it reports as a menu of no window.
  NSWindow* owner = menu == nullptr ? nullptr : menu->owner_window;
  if (owner != nullptr) {
    if (WindowBlocksMenuEvents(owner) != 0) {
      return;
    }
    EventPostSimple(EventTypeMenu, item->tag(), WindowIdOf(owner), EventSubtypeNone);
    return;
  }
  EventPostSimple(EventTypeMenu, item->tag(), 0, EventSubtypeNone);
}

bool ZnMenuDelegate::respondsToSelector(SEL selector) const {
  return selector == "setWindowID:" || selector == "preferences:" || selector == "about:" ||
         selector == "terminate:" || selector == "eventHandler:";
}

bool ZnMenuDelegate::performAction(SEL selector, NSObject* argument) {
  if (selector == "preferences:") {
    preferences(argument);
  } else if (selector == "about:") {
    about(argument);
  } else if (selector == "terminate:") {
    terminate(argument);
  } else if (selector == "eventHandler:") {
    eventHandler(dynamic_cast<NSMenuItem*>(argument));
  } else {
    return NSObject::performAction(selector, argument);
  }
  return true;
}

}  // namespace zn
