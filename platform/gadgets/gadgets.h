// The gadget library: the base class of all gadgets, and the desktop's metrics.
//
// A gadget is a platform view placed in a window and kept as a numbered object of the gadget
// registry, so that the program addresses it by id. Each gadget carries a `ZnGadgetFunctions`
// object that answers every gadget command; gadget kinds derive from it, create their views and
// override the commands they support. The base class gives every command's default, reports the
// gadget's events (type 3) to the runtime's queue and measures the gadget in the runtime's
// top-left coordinate convention. A new gadget goes to the window whose gadget list is current
// (`ZnGadgetList`, in the shell library).
//
// The desktop metrics measure the main screen's resolution and convert lengths between pixels,
// points, millimetres and inches.
//
// Late-bound seams it fills at its start: the window's gadget release of the shell
// (`WindowGadgetsFreeSet` with `GadgetFreeWindow`) and the gadget registry's free callback
// (`GadgetFree`), which the container library calls.
#pragma once

#include <cstdint>

#include "runtime/containers/containers.h"
#include "system/desktop/object.h"

namespace zn {

class ZnGadgetFunctions;

// GadgetMainView: the gadget's main view, one member per kind of view. Gadget kinds read the
// member of their own view class; the base class uses the view and control members.
union GadgetMainView {
  desktop::NSObject* object;
  desktop::NSView* view;
  desktop::NSControl* control;
};
static_assert(sizeof(GadgetMainView) == 8, "one object pointer");

// Zn_GadgetStructure: the gadget record of the gadget registry.
struct Zn_GadgetStructure {
  GadgetMainView view;           // not null while the gadget is live
  desktop::NSView* container;    // the outermost view, placed in the window
  ZnGadgetFunctions* functions;  // owned by the record
  int64_t reserved;
  int64_t window;  // the id of the window the gadget was created in
  int32_t type;
  int32_t flags;
};
static_assert(sizeof(Zn_GadgetStructure) == 48, "a gadget record is six words");

// IgnoreValue: a ResizeGadget argument that keeps the current coordinate.
inline constexpr int32_t IgnoreValue = -65535;

// ZnGadgetFunctions: the base class of the gadget kinds. Methods marked "controls only" do
// nothing, or answer their empty value, when the main view is not an NSControl.
class ZnGadgetFunctions : public desktop::NSObject {
 public:
  const char* className() const override { return "ZnGadgetFunctions"; }

  // setup: attaches a new gadget under `id` (-1: the record's address becomes the id) to this
  // object, in the current gadget list's window; returns the record, or null when the registry
  // cannot supply one. An id in use frees the old gadget first.
  virtual Zn_GadgetStructure* setup(int64_t id, int32_t type, desktop::NSView* view,
                                    desktop::NSView* container, int32_t flags);
  // reuse: makes this object the functions of an existing gadget, releasing the old ones.
  virtual void reuse(Zn_GadgetStructure* record, int32_t type);
  // SendEvent: posts the gadget event (3, GadgetID, the gadget's window, subtype).
  virtual void SendEvent(int32_t subtype);
  // EventHandler: the action of the view: SendEvent with subtype 0.
  virtual void EventHandler(desktop::NSObject* sender);
  // FreeGadget: sent when the gadget is freed, before this object is released; nothing here.
  virtual void FreeGadget();
  // ActivateGadget: the gadget's window becomes key and its view the first responder.
  virtual void ActivateGadget();
  // GadgetToolTip: sets the main view's tool tip.
  virtual void GadgetToolTip(desktop::NSString* text);
  // HideGadget: hides the container for a non-zero argument, shows it for 0.
  virtual void HideGadget(int64_t state);
  // DisableGadget: controls only; ends editing, then enables for 0 and disables otherwise.
  virtual void DisableGadget(int64_t state);
  // GadgetX, GadgetY: type 2 relative to the window's inner area, type 1 on the screen (from the
  // top of the main screen for y), any other relative to the superview. 0 without a container.
  virtual int64_t GadgetX(int32_t type);
  virtual int64_t GadgetY(int32_t type);
  // GadgetWidth, GadgetHeight: the container's size; 0 without a container.
  virtual int64_t GadgetWidth();
  virtual int64_t GadgetHeight();
  // ResizeGadget: each argument that is not IgnoreValue replaces its coordinate.
  virtual void ResizeGadget(int32_t x, int32_t y, int32_t width, int32_t height);
  // SetGadgetFont, GetGadgetFont: the control's font (controls only; null otherwise).
  virtual void SetGadgetFont(desktop::NSFont* font);
  virtual desktop::NSFont* GetGadgetFont();
  // The item and column operations: gadget kinds with items override them; here adding gives
  // 0, counting 0, and the others do nothing.
  virtual int64_t AddGadgetItem(int64_t position, desktop::NSString* text, desktop::NSImage* image,
                                int64_t flags);
  virtual void RemoveGadgetItem(int64_t position);
  virtual void ClearGadgetItems();
  virtual int64_t CountGadgetItems();
  virtual void AddGadgetColumn(int64_t position, desktop::NSString* title, int64_t width);
  virtual void RemoveGadgetColumn(int64_t column);
  // SetGadgetState, GetGadgetState: the control's integer value (controls only; 0 otherwise).
  virtual void SetGadgetState(int64_t state);
  virtual int64_t GetGadgetState();
  // The item state and image operations: for kinds with items; here they do nothing, or give 0.
  virtual void SetGadgetItemState(int64_t item, int64_t state);
  virtual int64_t GetGadgetItemState(int64_t item);
  virtual void SetGadgetItemImage(int64_t item, desktop::NSImage* image);
  // SetGadgetText: the control's text (controls only).
  virtual void SetGadgetText(desktop::NSString* text);
  // GetGadgetText: the control's text; otherwise a new empty string.
  virtual desktop::NSString* GetGadgetText();
  // The item text, attribute, colour and data operations and OpenGadgetList: for the kinds that
  // have them; here the setters do nothing and the getters give 0 (an empty string for text).
  virtual void SetGadgetItemText(int64_t item, desktop::NSString* text, int64_t column);
  virtual desktop::NSString* GetGadgetItemText(int64_t item, int64_t column);
  virtual void SetGadgetAttribute(int64_t attribute, int64_t value);
  virtual int64_t GetGadgetAttribute(int64_t attribute);
  virtual void SetGadgetItemAttribute(int64_t item, int64_t attribute, int64_t value,
                                      int64_t column);
  virtual int64_t GetGadgetItemAttribute(int64_t item, int64_t attribute, int64_t column);
  virtual void SetGadgetColor(int64_t type, int64_t color);
  virtual int64_t GetGadgetColor(int64_t type);
  virtual void SetGadgetItemColor(int64_t item, int64_t type, int64_t color, int64_t column);
  virtual int64_t GetGadgetItemColor(int64_t item, int64_t type, int64_t column);
  virtual void SetGadgetItemData(int64_t item, int64_t value);
  virtual int64_t GetGadgetItemData(int64_t item);
  virtual void OpenGadgetList(int64_t item);

  bool respondsToSelector(desktop::SEL selector) const override;
  bool performAction(desktop::SEL selector, desktop::NSObject* argument) override;

  int64_t GadgetID = 0;
  Zn_GadgetStructure* Gadget = nullptr;
  int32_t isNSControl = 0;
};

// GadgetInit: start step 8; creates the gadget registry and hands WindowFree the routine that
// frees a window's gadgets.
void GadgetInit();
// GadgetEnd: end step 7; frees every gadget, then the registry itself (GadgetInit makes it
// again).
void GadgetEnd();
// GadgetRegistry: the gadgets (null before GadgetInit and after GadgetEnd).
ObjectRegistry* GadgetRegistry();

// GadgetFree: removes the gadget's container from its superview and releases the gadget; -1
// frees every gadget. The registry's free callback; unknown ids are ignored.
void GadgetFree(int64_t gadget);
// GadgetRelease: unbinds the gadget's events, drops its queued events, tells its view, frees its
// functions object and releases its record. Unknown ids are ignored.
void GadgetRelease(int64_t gadget);
// GadgetFreeWindow: releases every gadget of the window (their views stay where they are).
void GadgetFreeWindow(int64_t window);
// GadgetUnbindEvent: EventUnbind of a gadget event (EventTypeGadget) on the gadget's key; 0 for
// an unknown gadget.
int32_t GadgetUnbindEvent(int64_t gadget, void (*callback)(), int64_t filter);
int32_t GadgetUnbindEvent(int64_t gadget, void (*callback)());

// ---------------------------------------------------------------------------------------------
// Desktop metrics.

// Unit codes of UnitConvert; any other code is the inch.
inline constexpr int32_t UnitPixel = 1;
inline constexpr int32_t UnitPoint = 2;
inline constexpr int32_t UnitMillimetre = 4;

// ScreenResolution: stores the main screen's horizontal, then vertical resolution in dots per
// inch at resolution[0] and resolution[1]. An axis whose physical size is reported as 0 (or
// unknown) gives 72, the framework's nominal density; without a main screen (none, or none to be
// made for want of memory) both are 72.
void ScreenResolution(double* resolution);

// UnitConvert: the value converted from one unit to another at `resolution` pixels per inch.
// The same unit returns the value untouched, without using the resolution.
double UnitConvert(int32_t from, int32_t to, double value, double resolution);

}  // namespace zn
