// Windows and screens of the model. A window retains its content view and its child windows; it
// is released when closed, as the framework's windows are by default. The main screen and the
// display's physical size are the watcher's settings when one is installed, the default screen
// otherwise.
#include <cstdint>

#include "system/desktop/application.h"
#include "system/desktop/desktop_internal.h"
#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "system/desktop/screens.h"
#include "system/desktop/windows.h"

namespace zn::desktop {
namespace {

NSScreen* main_screen = nullptr;

// The screen's description, whole or nil.
NSDictionary* MakeDescription(const internal::ScreenSettings& c) {
  auto* description = objc_alloc<NSDictionary>();
  // Made without autorelease: the screen may be asked for outside any pool.
  auto* pixels = objc_alloc<NSValue>(c.pixels);
  auto* display = objc_alloc<NSNumber>(static_cast<int64_t>(c.display));
  NSString* size_key = NSSTR(u"NSDeviceSize");
  NSString* number_key = NSSTR(u"NSScreenNumber");
  const bool whole = description != nullptr && pixels != nullptr && display != nullptr &&
                     size_key != nullptr && number_key != nullptr &&
                     description->setObject(pixels, size_key) &&
                     description->setObject(display, number_key);
  objc_release(pixels);
  objc_release(display);
  if (!whole) {
    objc_release(description);
    return nullptr;
  }
  return description;
}

}  // namespace

namespace internal {

const ScreenSettings& Screen() {
  Watcher* watcher = WatcherGet();
  return watcher == nullptr ? kDefaultScreen : watcher->Screen();
}

void ScreenRelease() {
  objc_release(main_screen);
  main_screen = nullptr;
}

}  // namespace internal

void ModelAccess::ScreenRefresh() {
  if (main_screen == nullptr) {
    return;
  }
  NSDictionary* description = MakeDescription(internal::Screen());
  if (description == nullptr) {
    internal::ScreenRelease();  // the next mainScreen makes it again
    return;
  }
  main_screen->frame_ = internal::Screen().frame;
  objc_release(main_screen->description_);
  main_screen->description_ = description;
}

// ---------------------------------------------------------------------------------------------
// Windows.

NSWindow* NSWindow::initWithContentRect(NSRect frame) {
  frame_ = frame;
  return this;
}

void NSWindow::setContentView(NSView* view) {
  objc_retain(view);
  if (content_view_ != nullptr) {
    content_view_->window_ = nullptr;
    objc_release(content_view_);
  }
  content_view_ = view;
  if (view != nullptr) {
    view->window_ = this;
    view->setFrame(NSRect{{0, 0}, frame_.size});
  }
  internal::Log("NSWindow setContentView:");
}

bool NSWindow::isKeyWindow() const {
  internal::Log("NSWindow isKeyWindow");
  return NSApp != nullptr && NSApp->key_window_ == this;
}

void NSWindow::makeKeyWindow() {
  internal::Log("NSWindow makeKeyWindow");
  if (NSApp != nullptr) {
    NSApp->key_window_ = this;
  }
}

bool NSWindow::isVisible() const {
  internal::Log("NSWindow isVisible");
  return visible_;
}

void NSWindow::addChildWindow(NSWindow* child, int64_t /*ordered*/) {
  if (child == nullptr || child->parent_ == this) {
    return;
  }
  if (child->parent_ != nullptr) {
    child->parent_->removeChildWindow(child);
  }
  if (!children_.push_back(child)) {
    return;
  }
  objc_retain(child);
  child->parent_ = this;
}

void NSWindow::removeChildWindow(NSWindow* child) {
  internal::Log("NSWindow removeChildWindow:");
  for (int64_t i = 0; i < children_.size(); ++i) {
    if (children_[i] == child) {
      children_.erase(i);
      child->parent_ = nullptr;
      objc_release(child);
      return;
    }
  }
}

void NSWindow::close() {
  internal::Log("NSWindow close");
  visible_ = false;
  if (NSApp != nullptr && NSApp->key_window_ == this) {
    NSApp->key_window_ = nullptr;
  }
  // Last: the release may destroy the window.
  if (released_when_closed_) {
    objc_release(this);
  }
}

bool NSWindow::makeFirstResponder(NSObject* responder) {
  internal::Log("NSWindow makeFirstResponder:");
  first_responder_ = responder;
  return true;
}

NSPoint NSWindow::convertBaseToScreen(NSPoint point) const {
  return NSPoint{point.x + frame_.origin.x, point.y + frame_.origin.y};
}

void NSWindow::dealloc() {
  if (NSApp != nullptr && NSApp->key_window_ == this) {
    NSApp->key_window_ = nullptr;
  }
  ModelArray<NSWindow*> held;
  held.swap(children_);
  for (NSWindow* child : held) {
    child->parent_ = nullptr;
    objc_release(child);
  }
  if (content_view_ != nullptr) {
    content_view_->window_ = nullptr;
    objc_release(content_view_);
    content_view_ = nullptr;
  }
  NSObject::dealloc();
}

// ---------------------------------------------------------------------------------------------
// Screens.

NSScreen* NSScreen::mainScreen() {
  const internal::ScreenSettings& settings = internal::Screen();
  if (!settings.present) {
    return nullptr;
  }
  if (main_screen == nullptr) {
    // Made whole or not at all: a screen without its description would be no screen.
    NSDictionary* description = MakeDescription(settings);
    auto* screen = description == nullptr ? nullptr : objc_alloc<NSScreen>();
    if (screen == nullptr) {
      objc_release(description);
      return nullptr;
    }
    screen->frame_ = settings.frame;
    screen->description_ = description;
    main_screen = screen;
  }
  return main_screen;
}

void NSScreen::dealloc() {
  objc_release(description_);
  description_ = nullptr;
  NSObject::dealloc();
}

CGSize CGDisplayScreenSize(uint32_t display) {
  const internal::ScreenSettings& settings = internal::Screen();
  if (display != settings.display) {
    return CGSize{0, 0};
  }
  return settings.millimetres;
}

}  // namespace zn::desktop
