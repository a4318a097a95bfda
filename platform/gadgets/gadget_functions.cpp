// ZnGadgetFunctions: attaching a gadget, its events, and the default of every gadget command.
//
// Most item, column, colour, attribute and data commands belong to the gadget kinds: here they
// do nothing and answer 0 or nil. Commands for controls do nothing for other views.
#include <cstdint>

#include "platform/gadgets/gadgets.h"
#include "platform/shell/shell.h"
#include "runtime/containers/containers.h"
#include "runtime/events/events.h"
#include "system/desktop/foundation.h"
#include "system/desktop/images.h"
#include "system/desktop/object.h"
#include "system/desktop/windows.h"

namespace zn {

using namespace desktop;

Zn_GadgetStructure* ZnGadgetFunctions::setup(int64_t id, int32_t type, NSView* view,
                                             NSView* container, int32_t flags) {
  auto* record = static_cast<Zn_GadgetStructure*>(RegistryAllocate(GadgetRegistry(), id));
  if (record == nullptr) {
    return nullptr;
  }
  Gadget = record;
  GadgetID = id == AnyId ? static_cast<int64_t>(reinterpret_cast<uintptr_t>(record)) : id;
  isNSControl = view != nullptr && view->isKindOfClass<NSControl>() ? 1 : 0;
  record->view.view = view;
  record->container = container;
  record->functions = this;
  record->type = type;
  record->flags = flags;
  // The gadget belongs to the window whose gadget list is current.
  record->window = WindowIdOf(ZnGadgetList::currentWindow());
  if (view != nullptr) {
    view->setTag(GadgetID);
  }
  if (isNSControl != 0) {
    record->view.control->setTarget(this);
    record->view.control->setAction("EventHandler:");
  }
  return record;
}

void ZnGadgetFunctions::reuse(Zn_GadgetStructure* record, int32_t type) {
  Gadget = record;
  // Taking over its own gadget again must not release the record's only reference to this.
  if (record->functions != this) {
    objc_release(record->functions);
    record->functions = this;
  }
  record->type = type;
  NSView* view = record->view.view;
  GadgetID = view == nullptr ? 0 : view->tag();
  isNSControl = view != nullptr && view->isKindOfClass<NSControl>() ? 1 : 0;
  if (isNSControl != 0) {
    record->view.control->setTarget(this);
  }
}

void ZnGadgetFunctions::SendEvent(int32_t subtype) {
  EventPostSimple(EventTypeGadget, GadgetID, Gadget == nullptr ? -1 : Gadget->window, subtype);
}

void ZnGadgetFunctions::EventHandler(NSObject* /*sender*/) {
  SendEvent(EventSubtypeNone);
}

void ZnGadgetFunctions::FreeGadget() {}

void ZnGadgetFunctions::ActivateGadget() {
  if (Gadget == nullptr) {
    return;
  }
  NSWindow* window = WindowPlatformWindowOf(Gadget->window);
  if (window == nullptr) {
    return;
  }
  window->makeKeyWindow();
  window->makeFirstResponder(Gadget->view.object);
}

void ZnGadgetFunctions::GadgetToolTip(NSString* text) {
  if (Gadget != nullptr && Gadget->view.view != nullptr) {
    Gadget->view.view->setToolTip(text);
  }
}

void ZnGadgetFunctions::HideGadget(int64_t state) {
  if (Gadget != nullptr && Gadget->container != nullptr) {
    Gadget->container->setHidden(state != 0);
  }
}

void ZnGadgetFunctions::DisableGadget(int64_t state) {
  if (isNSControl == 0) {
    return;
  }
  Gadget->view.control->validateEditing();
  Gadget->view.control->setEnabled(state == 0);
}

void ZnGadgetFunctions::SetGadgetFont(NSFont* font) {
  if (isNSControl != 0) {
    Gadget->view.control->setFont(font);
  }
}

NSFont* ZnGadgetFunctions::GetGadgetFont() {
  return isNSControl != 0 ? Gadget->view.control->font() : nullptr;
}

int64_t ZnGadgetFunctions::AddGadgetItem(int64_t /*position*/, NSString* /*text*/,
                                         NSImage* /*image*/, int64_t /*flags*/) {
  return 0;
}

void ZnGadgetFunctions::RemoveGadgetItem(int64_t /*position*/) {}

void ZnGadgetFunctions::ClearGadgetItems() {}

int64_t ZnGadgetFunctions::CountGadgetItems() {
  return 0;
}

void ZnGadgetFunctions::AddGadgetColumn(int64_t /*position*/, NSString* /*title*/,
                                        int64_t /*width*/) {}

void ZnGadgetFunctions::RemoveGadgetColumn(int64_t /*column*/) {}

void ZnGadgetFunctions::SetGadgetState(int64_t state) {
  if (isNSControl != 0) {
    Gadget->view.control->setIntValue(static_cast<int32_t>(state));
  }
}

int64_t ZnGadgetFunctions::GetGadgetState() {
  return isNSControl != 0 ? static_cast<int64_t>(Gadget->view.control->intValue()) : 0;
}

void ZnGadgetFunctions::SetGadgetItemState(int64_t /*item*/, int64_t /*state*/) {}

int64_t ZnGadgetFunctions::GetGadgetItemState(int64_t /*item*/) {
  return 0;
}

void ZnGadgetFunctions::SetGadgetItemImage(int64_t /*item*/, NSImage* /*image*/) {}

void ZnGadgetFunctions::SetGadgetText(NSString* text) {
  if (isNSControl != 0) {
    Gadget->view.control->setStringValue(text);
  }
}

NSString* ZnGadgetFunctions::GetGadgetText() {
  return isNSControl != 0 ? Gadget->view.control->stringValue() : NSString::string();
}

void ZnGadgetFunctions::SetGadgetItemText(int64_t /*item*/, NSString* /*text*/,
                                          int64_t /*column*/) {}

NSString* ZnGadgetFunctions::GetGadgetItemText(int64_t /*item*/, int64_t /*column*/) {
  return NSString::string();
}

void ZnGadgetFunctions::SetGadgetAttribute(int64_t /*attribute*/, int64_t /*value*/) {}

int64_t ZnGadgetFunctions::GetGadgetAttribute(int64_t /*attribute*/) {
  return 0;
}

void ZnGadgetFunctions::SetGadgetItemAttribute(int64_t /*item*/, int64_t /*attribute*/,
                                               int64_t /*value*/, int64_t /*column*/) {}

int64_t ZnGadgetFunctions::GetGadgetItemAttribute(int64_t /*item*/, int64_t /*attribute*/,
                                                  int64_t /*column*/) {
  return 0;
}

void ZnGadgetFunctions::SetGadgetColor(int64_t /*type*/, int64_t /*color*/) {}

int64_t ZnGadgetFunctions::GetGadgetColor(int64_t /*type*/) {
  return 0;
}

void ZnGadgetFunctions::SetGadgetItemColor(int64_t /*item*/, int64_t /*type*/, int64_t /*color*/,
                                           int64_t /*column*/) {}

int64_t ZnGadgetFunctions::GetGadgetItemColor(int64_t /*item*/, int64_t /*type*/,
                                              int64_t /*column*/) {
  return 0;
}

void ZnGadgetFunctions::SetGadgetItemData(int64_t /*item*/, int64_t /*value*/) {}

int64_t ZnGadgetFunctions::GetGadgetItemData(int64_t /*item*/) {
  return 0;
}

void ZnGadgetFunctions::OpenGadgetList(int64_t /*item*/) {}

bool ZnGadgetFunctions::respondsToSelector(SEL selector) const {
  return selector == "EventHandler:";
}

bool ZnGadgetFunctions::performAction(SEL selector, NSObject* argument) {
  if (selector != "EventHandler:") {
    return NSObject::performAction(selector, argument);
  }
  EventHandler(argument);
  return true;
}

}  // namespace zn
