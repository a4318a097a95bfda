// Windows and views of the desktop model: fonts, views, controls and windows, with the
// framework's coordinate rules. A window retains its content view and its child windows.
#pragma once

#include <cstdint>
#include <string_view>

#include "system/desktop/foundation.h"
#include "system/desktop/object.h"
#include "system/desktop/types.h"

namespace zn::desktop {

class NSFont : public NSObject {
 public:
  const char* className() const override { return "NSFont"; }
  // fontWithName: autoreleased; nil when it cannot be made.
  static NSFont* fontWithName(std::u16string_view name, double size);
  std::u16string_view fontName() const { return std::u16string_view(name_.data(), name_.size()); }
  double pointSize() const { return size_; }

 private:
  ModelArray<char16_t> name_;
  double size_ = 0;
};

class NSView : public NSObject {
 public:
  NSView() = default;
  const char* className() const override { return "NSView"; }
  NSView* initWithFrame(NSRect frame);

  NSRect frame() const { return frame_; }
  void setFrame(NSRect frame) { frame_ = frame; }
  NSView* superview() const { return superview_; }
  const ModelArray<NSView*>& subviews() const { return subviews_; }
  // addSubview: the superview retains the view; one that cannot grow leaves the view where it
  // was (its superview tells).
  void addSubview(NSView* view);
  // removeFromSuperview: the superview drops its reference (which may destroy the view).
  void removeFromSuperview();
  // window: the window whose content view this view is, or lies in; nil otherwise.
  NSWindow* window() const;
  virtual bool isFlipped() const { return false; }
  // convertPoint:toView: from this view's coordinates to the other view's; nil converts to the
  // window's base coordinates (origin bottom left, y upward).
  NSPoint convertPoint(NSPoint point, const NSView* view) const;
  bool isHidden() const { return hidden_; }
  void setHidden(bool hidden) { hidden_ = hidden; }
  int64_t tag() const { return tag_; }
  void setTag(int64_t tag) { tag_ = tag; }
  bool needsDisplay() const { return needs_display_; }
  void setNeedsDisplay(bool flag) { needs_display_ = flag; }
  NSString* toolTip() const { return tool_tip_; }
  // setToolTip: keeps a copy of the text; the old tip stays when the copy cannot be made.
  void setToolTip(NSString* text);

 protected:
  void dealloc() override;

 private:
  friend class NSWindow;
  // The point in window base coordinates, and back.
  NSPoint toBase(NSPoint point) const;
  NSPoint fromBase(NSPoint point) const;
  NSRect frame_{};
  NSView* superview_ = nullptr;
  NSWindow* window_ = nullptr;  // set on a window's content view only
  ModelArray<NSView*> subviews_;
  bool hidden_ = false;
  int64_t tag_ = 0;
  bool needs_display_ = false;
  NSString* tool_tip_ = nullptr;
};

class NSControl : public NSView {
 public:
  NSControl() = default;
  const char* className() const override { return "NSControl"; }
  NSObject* target() const { return target_; }
  void setTarget(NSObject* target) { target_ = target; }
  SEL action() const { return action_; }
  void setAction(SEL action) { action_ = action; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool enabled) { enabled_ = enabled; }
  int32_t intValue() const { return int_value_; }
  void setIntValue(int32_t value) { int_value_ = value; }
  // stringValue: the control's text; an empty constant string before any is set.
  NSString* stringValue() const;
  // setStringValue: keeps a copy of the text; the old text stays when the copy cannot be made.
  void setStringValue(NSString* text);
  NSFont* font() const { return font_; }
  void setFont(NSFont* font);
  void validateEditing() { ++validations_; }
  int64_t validateEditingCount() const { return validations_; }
  // performClick: what a click does: the action goes to the target (or along the responder
  // chain without one), from the control.
  void performClick();

 protected:
  void dealloc() override;

 private:
  NSObject* target_ = nullptr;
  SEL action_;
  bool enabled_ = true;
  int32_t int_value_ = 0;
  NSString* string_value_ = nullptr;
  NSFont* font_ = nullptr;
  int64_t validations_ = 0;
};

class NSWindow : public NSObject {
 public:
  NSWindow() = default;
  const char* className() const override { return "NSWindow"; }
  // initWithContentRect: the window's frame on the screen (origin bottom left).
  NSWindow* initWithContentRect(NSRect frame);

  NSRect frame() const { return frame_; }
  NSView* contentView() const { return content_view_; }
  // setContentView: the window retains the view.
  void setContentView(NSView* view);
  NSObject* delegate() const { return delegate_; }
  void setDelegate(NSObject* delegate) { delegate_ = delegate; }
  virtual bool isKeyWindow() const;
  virtual void makeKeyWindow();
  virtual bool isVisible() const;
  void setIsVisible(bool visible) { visible_ = visible; }
  NSWindow* parentWindow() const { return parent_; }
  const ModelArray<NSWindow*>& childWindows() const { return children_; }
  // addChildWindow:ordered: the parent retains the child until removeChildWindow:; a parent that
  // cannot grow leaves the child as it was (its parentWindow tells).
  void addChildWindow(NSWindow* child, int64_t ordered);
  virtual void removeChildWindow(NSWindow* child);
  // close: hides the window and, when it is released when closed (the default), releases it.
  virtual void close();
  void setReleasedWhenClosed(bool flag) { released_when_closed_ = flag; }
  bool makeFirstResponder(NSObject* responder);
  NSObject* firstResponder() const { return first_responder_; }
  // convertBaseToScreen: window base coordinates to screen coordinates.
  NSPoint convertBaseToScreen(NSPoint point) const;

 protected:
  void dealloc() override;

 private:
  NSRect frame_{};
  NSView* content_view_ = nullptr;
  NSObject* delegate_ = nullptr;
  NSWindow* parent_ = nullptr;
  ModelArray<NSWindow*> children_;
  NSObject* first_responder_ = nullptr;
  bool visible_ = true;
  bool released_when_closed_ = true;
};

}  // namespace zn::desktop
