// The standard application menu, the installation of menu bars, and the menu delegate that turns
// menu commands into menu events (type 1).
//
// The application menu is built once and its item moves from menu bar to menu bar: the platform
// lets an item belong to one menu only, so every install takes it out of the current main menu
// before inserting it into the new one.
#include <cstdint>

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

// Adds a new item and leaves the menu as its only owner.
NSMenuItem* AddItem(NSMenu* menu, NSString* title, SEL action, std::u16string_view key) {
  auto* item = objc_alloc<NSMenuItem>()->initWithTitle(title, action, NSSTR(key));
  menu->addItem(item);
  objc_release(item);
  return item;
}

// The program's name: the last path component of the executable.
NSString* ProgramName() {
  NSArray* parts =
      NSBundle::mainBundle()->executablePath()->componentsSeparatedByString(NSSTR(u"/"));
  return static_cast<NSString*>(parts->objectAtIndex(parts->count() - 1));
}

}  // namespace

namespace internal {

void ApplicationMenuRelease() {
  objc_release(items.apple_menu_item);
  objc_release(items.about_item);
  objc_release(items.preferences_item);
  objc_release(items.quit_item);
  objc_release(items.services_menu);
  objc_release(items.application_menu);
  items = {};
}

}  // namespace internal

ApplicationMenuItems ApplicationMenu() {
  return items;
}

NSMenu* BuildApplicationMenu() {
  auto* menu_bar = objc_alloc<NSMenu>();
  if (items.application_menu != nullptr) {
    return menu_bar;
  }
  NSString* name = ProgramName();
  NSMenu* menu = objc_alloc<NSMenu>()->initWithTitle(NSSTR(u""));
  items.application_menu = menu;

  items.about_item = objc_alloc<NSMenuItem>()->initWithTitle(
      NSString::stringWithFormat(u"About %@", {name}), "about:", NSSTR(u""));
  menu->addItem(items.about_item);
  menu->addItem(NSMenuItem::separatorItem());
  items.preferences_item = objc_alloc<NSMenuItem>()->initWithTitle(
      NSString::stringWithFormat(u"Preferences%C", {char16_t{0x2026}}),
      "preferences:", NSSTR(u","));
  menu->addItem(items.preferences_item);
  menu->addItem(NSMenuItem::separatorItem());
  NSMenuItem* services = AddItem(menu, NSSTR(u"Services"), SEL(), u"");
  items.services_menu = objc_alloc<NSMenu>()->initWithTitle(NSSTR(u"Services"));
  services->setSubmenu(items.services_menu);
  menu->addItem(NSMenuItem::separatorItem());
  AddItem(menu, NSString::stringWithFormat(u"Hide %@", {name}), "hide:", u"h");
  NSMenuItem* hide_others = AddItem(menu, NSSTR(u"Hide Others"), "hideOtherApplications:", u"h");
  hide_others->setKeyEquivalentModifierMask(NSEventModifierFlagCommand | NSEventModifierFlagOption);
  AddItem(menu, NSSTR(u"Show All"), "unhideAllApplications:", u"");
  menu->addItem(NSMenuItem::separatorItem());
  items.quit_item = objc_alloc<NSMenuItem>()->initWithTitle(
      NSString::stringWithFormat(u"Quit %@", {name}), "terminate:", NSSTR(u"q"));
  // Only the Quit item has a target; the others go along the responder chain.
  items.quit_item->setTarget(internal::ShellMenuDelegate());
  menu->addItem(items.quit_item);

  items.apple_menu_item =
      objc_alloc<NSMenuItem>()->initWithTitle(NSSTR(u"Apple"), SEL(), NSSTR(u""));
  items.apple_menu_item->setSubmenu(menu);
  return menu_bar;
}

void InstallMenuBar(NSMenu* menu_bar, int64_t window) {
  if (NSApp != nullptr && NSApp->mainMenu() != nullptr) {
    NSApp->mainMenu()->removeItem(items.apple_menu_item);
  }
  if (menu_bar != nullptr && items.apple_menu_item != nullptr) {
    menu_bar->insertItemAtIndex(items.apple_menu_item, 0);
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
