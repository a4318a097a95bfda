// Menus of the desktop model. A menu retains its items and an item its submenu; an item knows the
// one menu that holds it, as the framework allows an item in one menu only.
#pragma once

#include <cstdint>

#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "system/desktop/types.h"

namespace zn::desktop {

class NSMenuItem : public NSObject {
 public:
  const char* className() const override { return "NSMenuItem"; }
  // initWithTitle:action:keyEquivalent:
  NSMenuItem* initWithTitle(NSString* title, SEL action, NSString* keyEquivalent);
  // separatorItem: a new separator, autoreleased; nil when it cannot be made.
  static NSMenuItem* separatorItem();

  bool isSeparatorItem() const { return separator_; }
  NSString* title() const { return title_; }
  SEL action() const { return action_; }
  NSString* keyEquivalent() const { return key_equivalent_; }
  // The default mask is Command.
  uint64_t keyEquivalentModifierMask() const { return modifier_mask_; }
  void setKeyEquivalentModifierMask(uint64_t mask) { modifier_mask_ = mask; }
  NSObject* target() const { return target_; }
  void setTarget(NSObject* target) { target_ = target; }
  NSMenu* submenu() const { return submenu_; }
  void setSubmenu(NSMenu* submenu);
  bool hasSubmenu() const { return submenu_ != nullptr; }
  int64_t tag() const { return tag_; }
  void setTag(int64_t tag) { tag_ = tag; }
  NSObject* representedObject() const { return represented_; }
  void setRepresentedObject(NSObject* object);
  // menu: the menu that holds the item, or nil.
  NSMenu* menu() const { return menu_; }

 protected:
  void dealloc() override;

 private:
  friend class NSMenu;
  NSString* title_ = nullptr;
  SEL action_;
  NSString* key_equivalent_ = nullptr;
  uint64_t modifier_mask_ = NSEventModifierFlagCommand;
  NSObject* target_ = nullptr;
  NSMenu* submenu_ = nullptr;
  int64_t tag_ = 0;
  NSObject* represented_ = nullptr;
  NSMenu* menu_ = nullptr;
  bool separator_ = false;
};

class NSMenu : public NSObject {
 public:
  NSMenu();
  const char* className() const override { return "NSMenu"; }
  NSMenu* initWithTitle(NSString* title);
  NSString* title() const { return title_; }
  // addItem, insertItemAtIndex: the menu retains the item. An item that is in a menu already is
  // refused (a fault), as the framework refuses it. A menu that cannot grow leaves the item out
  // (its `menu` stays nil).
  void addItem(NSMenuItem* item);
  void insertItemAtIndex(NSMenuItem* item, int64_t index);
  // removeItem: drops an item of this menu; others are ignored. The menu keeps the room, so the
  // item can always be inserted again.
  void removeItem(NSMenuItem* item);
  int64_t numberOfItems() const { return items_.size(); }
  NSMenuItem* itemAtIndex(int64_t index) const;
  int64_t indexOfItem(const NSMenuItem* item) const;
  // performActionForItemAtIndex: what choosing the item does: its action goes to its target, or
  // along the responder chain without one, from the item.
  void performActionForItemAtIndex(int64_t index);

 protected:
  void dealloc() override;

 private:
  NSString* title_ = nullptr;
  ModelArray<NSMenuItem*> items_;
};

}  // namespace zn::desktop
