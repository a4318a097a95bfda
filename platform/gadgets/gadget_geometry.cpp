// Gadget geometry in the runtime's convention: positions from the top left, whatever the
// platform's views count from.
//
// A window's content view is flipped (its y runs downward from the top), while a view that is
// not flipped has its origin at its bottom left: its top edge is its origin plus its height.
// Results are truncated toward zero.
#include <cmath>
#include <cstdint>

#include "platform/gadgets/gadgets.h"
#include "system/desktop/screens.h"
#include "system/desktop/windows.h"

namespace zn {

using namespace desktop;

namespace {

// Truncation toward zero that stays defined for coordinates beyond the 64-bit range.
int64_t Truncate(double value) {
  if (std::isnan(value)) {
    return 0;
  }
  if (value >= 9223372036854775807.0) {
    return INT64_MAX;
  }
  if (value <= -9223372036854775808.0) {
    return INT64_MIN;
  }
  return static_cast<int64_t>(value);
}

// The container's origin in the coordinates of its window's content view.
NSPoint InWindowArea(const NSView* container) {
  const NSWindow* window = container->window();
  return container->convertPoint(NSPoint{0, 0},
                                 window == nullptr ? nullptr : window->contentView());
}

}  // namespace

int64_t ZnGadgetFunctions::GadgetX(int32_t type) {
  const NSView* container = Gadget == nullptr ? nullptr : Gadget->container;
  if (container == nullptr) {
    return 0;
  }
  if (type == 2) {
    return Truncate(InWindowArea(container).x);
  }
  if (type == 1) {
    const NSPoint base = container->convertPoint(NSPoint{0, 0}, nullptr);
    const NSWindow* window = container->window();
    return Truncate(window == nullptr ? base.x : window->convertBaseToScreen(base).x);
  }
  return Truncate(container->frame().origin.x);
}

int64_t ZnGadgetFunctions::GadgetY(int32_t type) {
  const NSView* container = Gadget == nullptr ? nullptr : Gadget->container;
  if (container == nullptr) {
    return 0;
  }
  const double height = container->frame().size.height;
  if (type == 2) {
    const NSPoint p = InWindowArea(container);
    return Truncate(container->isFlipped() ? p.y : p.y - height);
  }
  if (type == 1) {
    const NSScreen* screen = NSScreen::mainScreen();
    if (screen == nullptr) {
      return 0;
    }
    NSPoint p = container->convertPoint(NSPoint{0, 0}, nullptr);
    if (!container->isFlipped()) {
      p.y += height;  // the top edge
    }
    const NSWindow* window = container->window();
    const NSPoint on_screen = window == nullptr ? p : window->convertBaseToScreen(p);
    // A distance from the top of the main screen, whose own y runs upward.
    return Truncate(screen->frame().size.height - on_screen.y);
  }
  return Truncate(container->frame().origin.y);
}

int64_t ZnGadgetFunctions::GadgetWidth() {
  const NSView* container = Gadget == nullptr ? nullptr : Gadget->container;
  return container == nullptr ? 0 : Truncate(container->frame().size.width);
}

int64_t ZnGadgetFunctions::GadgetHeight() {
  const NSView* container = Gadget == nullptr ? nullptr : Gadget->container;
  return container == nullptr ? 0 : Truncate(container->frame().size.height);
}

void ZnGadgetFunctions::ResizeGadget(int32_t x, int32_t y, int32_t width, int32_t height) {
  NSView* container = Gadget == nullptr ? nullptr : Gadget->container;
  if (container == nullptr) {
    return;
  }
  NSRect frame = container->frame();
  if (x != IgnoreValue) {
    frame.origin.x = x;
  }
  if (y != IgnoreValue) {
    frame.origin.y = y;
  }
  if (width != IgnoreValue) {
    frame.size.width = width;
  }
  if (height != IgnoreValue) {
    frame.size.height = height;
  }
  container->setFrame(frame);
  container->setNeedsDisplay(true);
}

}  // namespace zn
