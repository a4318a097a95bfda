// The gadget registry and the library operations: start and end steps, freeing and releasing
// gadgets, freeing a window's gadgets, unbinding a gadget's events.
//
// Releasing keeps a fixed order: the gadget's bindings and queued events go before its view is
// told it is gone, and the functions object is released last, after FreeGadget, because a gadget
// kind frees its own views there.
#include <cstdint>

#include "platform/gadgets/gadgets.h"
#include "platform/shell/shell.h"
#include "runtime/containers/containers.h"
#include "runtime/events/events.h"
#include "system/desktop/object.h"
#include "system/desktop/windows.h"

namespace zn {

using namespace desktop;

namespace {

ObjectRegistry* gadget_registry = nullptr;

Zn_GadgetStructure* Lookup(int64_t gadget) {
  return gadget_registry == nullptr
             ? nullptr
             : static_cast<Zn_GadgetStructure*>(RegistryLookup(gadget_registry, gadget));
}

}  // namespace

void GadgetInit() {
  gadget_registry = RegistryCreate(sizeof(Zn_GadgetStructure), 16, GadgetFree);
  WindowGadgetsFreeSet(GadgetFreeWindow);
}

void GadgetEnd() {
  if (gadget_registry != nullptr) {
    RegistryReleaseAll(gadget_registry);
    RegistryFree(gadget_registry);
    gadget_registry = nullptr;
  }
}

ObjectRegistry* GadgetRegistry() {
  return gadget_registry;
}

void GadgetFree(int64_t gadget) {
  auto* record = static_cast<Zn_GadgetStructure*>(RegistryFreeLookup(gadget_registry, gadget));
  if (record == nullptr) {
    return;
  }
  // The container stays alive until the release has told the view: when the window's view tree
  // held the only reference, removing it from its superview would otherwise destroy the views
  // that the release still sends messages to.
  NSView* container = objc_retain(record->container);
  if (container != nullptr) {
    container->removeFromSuperview();
  }
  GadgetRelease(gadget);
  objc_release(container);
}

void GadgetRelease(int64_t gadget) {
  Zn_GadgetStructure* record = Lookup(gadget);
  if (record == nullptr) {
    return;
  }
  GadgetUnbindEvent(gadget, nullptr, EventAny);
  EventRemoveMatching(EventTypeGadget, gadget, EventAny, EventAny);
  // Every gadget kind's main view answers this: it must not call back into a freed gadget.
  objc_msgSend_bool(record->view.object, "setAlreadyDestroyed:", true);
  ZnGadgetFunctions* functions = record->functions;
  // Detached before FreeGadget runs: a FreeGadget (or anything it calls) that frees its own gadget
  // again finds no functions left to free, instead of freeing them again for ever.
  record->functions = nullptr;
  if (functions != nullptr) {
    functions->FreeGadget();
    objc_release(functions);
  }
  RegistryRelease(gadget_registry, gadget);
}

void GadgetFreeWindow(int64_t window) {
  if (gadget_registry == nullptr) {
    return;
  }
  RegistryFirst(gadget_registry);
  int64_t id = 0;
  // The iteration has moved past a record before handing it out, so releasing it is safe.
  while (auto* record = static_cast<Zn_GadgetStructure*>(RegistryNext(gadget_registry, &id))) {
    if (record->window == window) {
      GadgetRelease(id);
    }
  }
  RegistryDone(gadget_registry);
}

int32_t GadgetUnbindEvent(int64_t gadget, void (*callback)(), int64_t filter) {
  const Zn_GadgetStructure* record = Lookup(gadget);
  if (record == nullptr) {
    return 0;
  }
  return EventUnbind(EventTypeGadget, callback, record->window, gadget, filter);
}

int32_t GadgetUnbindEvent(int64_t gadget, void (*callback)()) {
  return GadgetUnbindEvent(gadget, callback, EventAny);
}

}  // namespace zn
