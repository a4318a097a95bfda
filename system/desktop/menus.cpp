// Menus and menu items of the model. A menu retains its items and an item its submenu; an item
// knows the one menu that holds it, as the framework allows an item in one menu only.
#include <cstdint>

#include "system/desktop/application.h"
#include "system/desktop/desktop_internal.h"
#include "system/desktop/foundation.h"
#include "system/desktop/menus.h"
#include "system/desktop/object.h"

namespace zn::desktop {

NSMenuItem* NSMenuItem::initWithTitle(NSString* title, SEL action, NSString* keyEquivalent) {
  objc_release(title_);
  title_ = objc_retain(title);
  action_ = action;
  objc_release(key_equivalent_);
  key_equivalent_ = objc_retain(keyEquivalent);
  return this;
}

NSMenuItem* NSMenuItem::separatorItem() {
  auto* item = objc_alloc<NSMenuItem>();
  if (item == nullptr) {
    return nullptr;
  }
  item->initWithTitle(NSSTR(u""), SEL(), NSSTR(u""));
  item->separator_ = true;
  return objc_autorelease(item);
}

void NSMenuItem::setSubmenu(NSMenu* submenu) {
  objc_retain(submenu);
  objc_release(submenu_);
  submenu_ = submenu;
}

void NSMenuItem::setRepresentedObject(NSObject* object) {
  objc_retain(object);
  objc_release(represented_);
  represented_ = object;
}

void NSMenuItem::dealloc() {
  objc_release(title_);
  objc_release(key_equivalent_);
  objc_release(submenu_);
  objc_release(represented_);
  title_ = key_equivalent_ = nullptr;
  submenu_ = nullptr;
  represented_ = nullptr;
  NSObject::dealloc();
}

NSMenu::NSMenu() : title_(NSSTR(u"")) {}

NSMenu* NSMenu::initWithTitle(NSString* title) {
  objc_retain(title);
  objc_release(title_);
  title_ = title;
  return this;
}

void NSMenu::addItem(NSMenuItem* item) {
  insertItemAtIndex(item, numberOfItems());
}

void NSMenu::insertItemAtIndex(NSMenuItem* item, int64_t index) {
  if (item == nullptr) {
    internal::Fault("insertItem:atIndex: nil");
    return;
  }
  if (item->menu_ != nullptr) {
    internal::Fault("item to be inserted is already in another menu");
    return;
  }
  if (index < 0 || index > numberOfItems()) {
    internal::Fault("insertItem:atIndex: index beyond bounds");
    return;
  }
  if (!items_.insert(index, item)) {
    return;
  }
  objc_retain(item);
  item->menu_ = this;
}

void NSMenu::removeItem(NSMenuItem* item) {
  const int64_t index = indexOfItem(item);
  if (index < 0) {
    return;
  }
  items_.erase(index);
  item->menu_ = nullptr;
  objc_release(item);
}

NSMenuItem* NSMenu::itemAtIndex(int64_t index) const {
  if (index < 0 || index >= numberOfItems()) {
    return nullptr;
  }
  return items_[index];
}

int64_t NSMenu::indexOfItem(const NSMenuItem* item) const {
  for (int64_t i = 0; i < items_.size(); ++i) {
    if (items_[i] == item) {
      return i;
    }
  }
  return -1;
}

void NSMenu::performActionForItemAtIndex(int64_t index) {
  NSMenuItem* item = itemAtIndex(index);
  if (item == nullptr || item->action().empty()) {
    return;
  }
  if (item->target() != nullptr) {
    objc_msgSend_action(item->target(), item->action(), item);
  } else if (NSApp != nullptr) {
    NSApp->sendAction(item->action(), nullptr, item);
  }
}

void NSMenu::dealloc() {
  ModelArray<NSMenuItem*> held;
  held.swap(items_);
  for (NSMenuItem* item : held) {
    item->menu_ = nullptr;
    objc_release(item);
  }
  objc_release(title_);
  title_ = nullptr;
  NSObject::dealloc();
}

}  // namespace zn::desktop
