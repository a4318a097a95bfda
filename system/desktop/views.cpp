// Views and controls of the model, with the framework's coordinate rules: a view's frame is in
// its superview's coordinates; a view that is not flipped has its origin at its bottom left and y
// upward, a flipped one at its top left and y downward; a window's base coordinates run upward
// from its bottom left.
#include <cstdint>
#include <string_view>

#include "system/desktop/application.h"
#include "system/desktop/desktop_internal.h"
#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "system/desktop/windows.h"

namespace zn::desktop {

NSFont* NSFont::fontWithName(std::u16string_view name, double size) {
  auto* font = objc_alloc<NSFont>();
  if (font == nullptr) {
    return nullptr;
  }
  if (!font->name_.append(name.data(), static_cast<int64_t>(name.size()))) {
    objc_release(font);
    return nullptr;
  }
  font->size_ = size;
  return objc_autorelease(font);
}

NSView* NSView::initWithFrame(NSRect frame) {
  frame_ = frame;
  return this;
}

void NSView::addSubview(NSView* view) {
  // The room comes first, so that a view is never taken from its old superview for nothing.
  if (view == nullptr || view == this || view->superview_ == this ||
      !subviews_.reserve(subviews_.size() + 1)) {
    return;
  }
  objc_retain(view);
  view->removeFromSuperview();
  subviews_.push_back(view);
  view->superview_ = this;
}

void NSView::removeFromSuperview() {
  NSView* parent = superview_;
  if (parent == nullptr) {
    return;
  }
  for (int64_t i = 0; i < parent->subviews_.size(); ++i) {
    if (parent->subviews_[i] == this) {
      parent->subviews_.erase(i);
      break;
    }
  }
  superview_ = nullptr;
  internal::Log("NSView removeFromSuperview");
  objc_release(this);
}

NSWindow* NSView::window() const {
  const NSView* root = this;
  while (root->superview_ != nullptr) {
    root = root->superview_;
  }
  return root->window_;
}

NSPoint NSView::toBase(NSPoint point) const {
  // The distance down from this view's top edge, then the point in the superview's terms.
  const double height = frame_.size.height;
  const double down = isFlipped() ? point.y : height - point.y;
  const bool outer_flipped = superview_ != nullptr && superview_->isFlipped();
  const NSPoint outer{frame_.origin.x + point.x,
                      outer_flipped ? frame_.origin.y + down : frame_.origin.y + height - down};
  return superview_ == nullptr ? outer : superview_->toBase(outer);
}

NSPoint NSView::fromBase(NSPoint point) const {
  const NSPoint outer = superview_ == nullptr ? point : superview_->fromBase(point);
  const double height = frame_.size.height;
  const bool outer_flipped = superview_ != nullptr && superview_->isFlipped();
  const double down =
      outer_flipped ? outer.y - frame_.origin.y : frame_.origin.y + height - outer.y;
  return NSPoint{outer.x - frame_.origin.x, isFlipped() ? down : height - down};
}

NSPoint NSView::convertPoint(NSPoint point, const NSView* view) const {
  const NSPoint base = toBase(point);
  return view == nullptr ? base : view->fromBase(base);
}

void NSView::setToolTip(NSString* text) {
  NSString* copy = nullptr;
  if (text != nullptr) {
    copy = objc_msgSend(objc_alloc<NSString>(), &NSString::initWithCharacters, text->characters());
    if (copy == nullptr) {
      return;
    }
  }
  objc_release(tool_tip_);
  tool_tip_ = copy;
}

void NSView::dealloc() {
  ModelArray<NSView*> held;
  held.swap(subviews_);
  for (NSView* view : held) {
    view->superview_ = nullptr;
    objc_release(view);
  }
  objc_release(tool_tip_);
  tool_tip_ = nullptr;
  NSObject::dealloc();
}

NSString* NSControl::stringValue() const {
  return string_value_ == nullptr ? NSSTR(u"") : string_value_;
}

void NSControl::setStringValue(NSString* text) {
  // The control keeps a copy, as the framework copies the text it is given.
  NSString* copy = objc_msgSend(objc_alloc<NSString>(), &NSString::initWithCharacters,
                                text == nullptr ? std::u16string_view() : text->characters());
  if (copy == nullptr) {
    return;
  }
  objc_release(string_value_);
  string_value_ = copy;
}

void NSControl::setFont(NSFont* font) {
  objc_retain(font);
  objc_release(font_);
  font_ = font;
}

void NSControl::performClick() {
  if (action_.empty() || !enabled_) {
    return;
  }
  if (target_ != nullptr) {
    objc_msgSend_action(target_, action_, this);
  } else if (NSApp != nullptr) {
    NSApp->sendAction(action_, nullptr, this);
  }
}

void NSControl::dealloc() {
  objc_release(string_value_);
  objc_release(font_);
  string_value_ = nullptr;
  font_ = nullptr;
  NSView::dealloc();
}

}  // namespace zn::desktop
