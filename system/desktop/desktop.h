// The desktop model: a small in-process stand-in for the desktop platform's application framework,
// its object runtime, its process manager and its graphics library.
//
// The application shell, the gadgets, the event queue's wake-up and the image library (which uses
// the image side below: NSImage, NSBitmapImageRep and the graphics objects of the drawing state)
// call the framework through the classes and selectors named here. Every object is real: it keeps
// its state, counts its references and is destroyed when the last one goes, so that tests can
// prove that every object a library releases is really released (`DesktopLiveObjects`). A build
// for the real platform replaces this folder alone.
//
// Objects follow the framework's rules: `objc_alloc<T>()` gives an object holding one reference
// (the model folds alloc and the plain init into it), `retain` adds one, `objc_release` drops one
// and destroys the object at zero, `autorelease` hands one to the innermost autorelease pool,
// which drops it when the pool is released. Setters that the framework documents as retaining
// (content views, submenus, main menus, array elements) retain; delegates and targets do not.
// Messages to nil do nothing and answer 0, so every free function here accepts null.
//
// Calls the framework would reject with an exception (an unrecognised selector, an item inserted
// into a second menu, an object released more often than retained) are counted as faults instead
// (`DesktopFaults`), so that tests can assert there were none.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <initializer_list>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace zn::desktop {

// ---------------------------------------------------------------------------------------------
// Object runtime.

// A selector, named as in the framework ("copy:", "windowID"). Empty for no selector.
using SEL = std::string_view;

// NSSelectorFromString: the selector with this name; the text must outlive its use.
inline SEL NSSelectorFromString(const char* name) {
  return SEL(name);
}

class NSString;

class NSObject {
 public:
  NSObject();
  NSObject(const NSObject&) = delete;
  NSObject& operator=(const NSObject&) = delete;

  // retain: one more reference; returns the object.
  NSObject* retain();
  // release: one reference less; destroys the object (dealloc) at zero.
  void release();
  // autorelease: hands one reference to the innermost autorelease pool; returns the object.
  NSObject* autorelease();
  int64_t retainCount() const { return retain_count_; }

  // The class's name, as the framework reports it.
  virtual const char* className() const { return "NSObject"; }
  // respondsToSelector: whether an action or message with this selector is understood.
  virtual bool respondsToSelector(SEL selector) const;
  // isEqual: identity, unless a class compares values.
  virtual bool isEqual(const NSObject* other) const { return this == other; }
  template <class T>
  bool isKindOfClass() const {
    return dynamic_cast<const T*>(this) != nullptr;
  }

  // Generic message sends for selectors that a caller knows only by name (actions, delegate
  // questions, methods of subclasses defined elsewhere). The base answers none of them and
  // counts an unrecognised selector.
  // performAction: an action message with one object argument; true when understood.
  virtual bool performAction(SEL selector, NSObject* argument);
  // performIntegerMessage: a message without arguments answering an integer.
  virtual int64_t performIntegerMessage(SEL selector);
  // performBoolMessage: a message with one BOOL argument and no result.
  virtual void performBoolMessage(SEL selector, bool value);

 protected:
  virtual ~NSObject();
  // dealloc: the last reference is gone. Overrides free their own state, then call the inherited
  // dealloc, which destroys the object.
  virtual void dealloc();
  friend void objc_release(NSObject* object);
  friend NSString* NSSTR(std::u16string_view text);

 private:
  int64_t retain_count_ = 1;
};

// objc_alloc: a new object of class T holding one reference, already through its plain init.
template <class T, class... Args>
T* objc_alloc(Args&&... args) {
  return new T(std::forward<Args>(args)...);
}

// objc_release: drops one reference; null does nothing.
void objc_release(NSObject* object);

// objc_retain, objc_autorelease: typed forms of retain and autorelease; null gives null.
template <class T>
T* objc_retain(T* object) {
  if (object != nullptr) {
    object->retain();
  }
  return object;
}
template <class T>
T* objc_autorelease(T* object) {
  if (object != nullptr) {
    object->autorelease();
  }
  return object;
}

// Message sends to an object that may be nil (nil answers 0 and does nothing).
bool objc_msgSend_action(NSObject* receiver, SEL selector, NSObject* argument);
int64_t objc_msgSend_integer(NSObject* receiver, SEL selector);
void objc_msgSend_bool(NSObject* receiver, SEL selector, bool value);

// NSAutoreleasePool: objc_alloc pushes the pool on the pool stack; releasing it drops every
// reference it holds (and those of pools pushed after it, which go first).
class NSAutoreleasePool : public NSObject {
 public:
  NSAutoreleasePool();
  const char* className() const override { return "NSAutoreleasePool"; }
  void addObject(NSObject* object);
  // drain: as objc_release.
  void drain() { objc_release(this); }
  int64_t count() const { return static_cast<int64_t>(objects_.size()); }

 protected:
  void dealloc() override;

 private:
  std::vector<NSObject*> objects_;
};

// AutoreleasePoolScope: a pool for the length of a C++ scope, released on every way out.
class AutoreleasePoolScope {
 public:
  AutoreleasePoolScope() : pool_(objc_alloc<NSAutoreleasePool>()) {}
  ~AutoreleasePoolScope() { objc_release(pool_); }
  AutoreleasePoolScope(const AutoreleasePoolScope&) = delete;
  AutoreleasePoolScope& operator=(const AutoreleasePoolScope&) = delete;

 private:
  NSAutoreleasePool* pool_;
};

// ---------------------------------------------------------------------------------------------
// Foundation values.

struct NSPoint {
  double x;
  double y;
};
struct NSSize {
  double width;
  double height;
};
struct NSRect {
  NSPoint origin;
  NSSize size;
};
using CGFloat = double;
using CGPoint = NSPoint;
using CGSize = NSSize;
using CGRect = NSRect;

inline NSRect NSMakeRect(double x, double y, double width, double height) {
  return NSRect{NSPoint{x, y}, NSSize{width, height}};
}

class NSArray;

// FormatArgument: one value for stringWithFormat: an object for "%@", a code unit for "%C", an
// integer for "%d" and "%lld".
struct FormatArgument {
  FormatArgument(const NSObject* o) : object(o) {}  // NOLINT(google-explicit-constructor)
  FormatArgument(char16_t c) : integer(c) {}        // NOLINT(google-explicit-constructor)
  FormatArgument(int v) : integer(v) {}             // NOLINT(google-explicit-constructor)
  FormatArgument(long long v) : integer(v) {}       // NOLINT(google-explicit-constructor)
  const NSObject* object = nullptr;
  int64_t integer = 0;
};

// NSString: immutable UTF-16 text.
class NSString : public NSObject {
 public:
  explicit NSString(std::u16string text = {});
  const char* className() const override { return "NSString"; }
  bool isEqual(const NSObject* other) const override;

  // string: a new empty string, autoreleased.
  static NSString* string();
  static NSString* stringWithCharacters(std::u16string_view text);
  static NSString* stringWithUTF8String(const char* text);
  // stringWithFormat: "%@" (an object's description: a string's text), "%C" (one UTF-16 unit),
  // "%d", "%lld" and "%%"; autoreleased.
  static NSString* stringWithFormat(std::u16string_view format,
                                    std::initializer_list<FormatArgument> arguments = {});

  const std::u16string& characters() const { return text_; }
  int64_t length() const { return static_cast<int64_t>(text_.size()); }
  bool isEqualToString(const NSString* other) const;
  // UTF8String: the text as UTF-8, valid while the string lives.
  const char* UTF8String() const;
  // componentsSeparatedByString: the pieces between the separators, autoreleased.
  NSArray* componentsSeparatedByString(const NSString* separator) const;

 private:
  std::u16string text_;
  mutable std::string utf8_;
};

// NSSTR: a constant string, like a literal of the framework: one object per text, never
// destroyed, not counted among the live objects; retain and release do nothing to it.
NSString* NSSTR(std::u16string_view text);

class NSNumber : public NSObject {
 public:
  explicit NSNumber(int64_t value) : value_(value) {}
  const char* className() const override { return "NSNumber"; }
  static NSNumber* numberWithBool(bool value);
  static NSNumber* numberWithUnsignedInt(uint32_t value);
  bool boolValue() const { return value_ != 0; }
  uint32_t unsignedIntValue() const { return static_cast<uint32_t>(value_); }
  int32_t intValue() const { return static_cast<int32_t>(value_); }
  bool isEqual(const NSObject* other) const override;

 private:
  int64_t value_;
};

class NSValue : public NSObject {
 public:
  explicit NSValue(NSSize size) : size_(size) {}
  const char* className() const override { return "NSValue"; }
  static NSValue* valueWithSize(NSSize size);
  NSSize sizeValue() const { return size_; }

 private:
  NSSize size_;
};

// NSArray and NSMutableArray: ordered objects, each retained while in the array.
class NSArray : public NSObject {
 public:
  NSArray() = default;
  const char* className() const override { return "NSArray"; }
  int64_t count() const { return static_cast<int64_t>(objects_.size()); }
  // objectAtIndex: the object, or nil out of range (counted as a fault).
  NSObject* objectAtIndex(int64_t index) const;
  bool containsObject(const NSObject* object) const;
  // componentsJoinedByString: the strings joined with the separator, autoreleased.
  NSString* componentsJoinedByString(const NSString* separator) const;
  static NSArray* arrayWithObjects(std::initializer_list<NSObject*> objects);

 protected:
  void dealloc() override;
  std::vector<NSObject*> objects_;
};

class NSMutableArray : public NSArray {
 public:
  NSMutableArray() = default;
  const char* className() const override { return "NSMutableArray"; }
  NSMutableArray* initWithCapacity(int64_t capacity);
  int64_t capacity() const { return capacity_; }
  void addObject(NSObject* object);
  // removeObject: removes every element isEqual: to the object.
  void removeObject(const NSObject* object);

 private:
  int64_t capacity_ = 0;
};

// NSDictionary: objects under string keys, both retained.
class NSDictionary : public NSObject {
 public:
  NSDictionary() = default;
  const char* className() const override { return "NSDictionary"; }
  static NSDictionary* dictionaryWithObject(NSObject* object, NSString* key);
  NSObject* objectForKey(const NSString* key) const;
  int64_t count() const { return static_cast<int64_t>(entries_.size()); }
  // setObject: adds or replaces (the model's own way of filling a dictionary).
  void setObject(NSObject* object, NSString* key);
  void addEntriesFromDictionary(const NSDictionary* other);

 protected:
  void dealloc() override;

 private:
  std::vector<std::pair<NSString*, NSObject*>> entries_;
};

// NSUserDefaults: the registered defaults of the process.
class NSUserDefaults : public NSObject {
 public:
  const char* className() const override { return "NSUserDefaults"; }
  static NSUserDefaults* standardUserDefaults();
  void registerDefaults(const NSDictionary* defaults);
  NSObject* objectForKey(const NSString* key) const;

 protected:
  void dealloc() override;

 private:
  NSDictionary* registered_ = nullptr;
};

// NSBundle: the main bundle knows the running executable's path.
class NSBundle : public NSObject {
 public:
  const char* className() const override { return "NSBundle"; }
  static NSBundle* mainBundle();
  NSString* executablePath();

 protected:
  void dealloc() override;

 private:
  friend void DesktopTestSetExecutablePath(std::u16string path);
  NSString* executable_path_ = nullptr;
};

// ---------------------------------------------------------------------------------------------
// Process manager.

struct ProcessSerialNumber {
  uint32_t highLongOfPSN;
  uint32_t lowLongOfPSN;
};
using OSErr = int16_t;
inline constexpr OSErr noErr = 0;
inline constexpr OSErr procNotFound = -600;

OSErr GetCurrentProcess(ProcessSerialNumber* psn);
OSErr SetFrontProcess(const ProcessSerialNumber* psn);

// ---------------------------------------------------------------------------------------------
// Events.

inline constexpr int64_t NSEventTypeKeyDown = 10;
inline constexpr int64_t NSEventTypeApplicationDefined = 15;
inline constexpr uint64_t NSEventModifierFlagShift = 1ULL << 17;
inline constexpr uint64_t NSEventModifierFlagControl = 1ULL << 18;
inline constexpr uint64_t NSEventModifierFlagOption = 1ULL << 19;
inline constexpr uint64_t NSEventModifierFlagCommand = 1ULL << 20;
inline constexpr uint64_t NSEventModifierFlagDeviceIndependentFlagsMask = 0xFFFF0000ULL;
inline constexpr uint64_t NSEventMaskAny = ~0ULL;

class NSGraphicsContext;

class NSEvent : public NSObject {
 public:
  const char* className() const override { return "NSEvent"; }
  // otherEventWithType:location:modifierFlags:timestamp:windowNumber:context:subtype:data1:data2:
  static NSEvent* otherEventWithType(int64_t type, NSPoint location, uint64_t modifierFlags,
                                     double timestamp, int64_t windowNumber,
                                     NSGraphicsContext* context, int16_t subtype, int64_t data1,
                                     int64_t data2);
  // keyEventWithType: a key event (the model's short form: type, modifiers, characters).
  static NSEvent* keyEventWithType(int64_t type, uint64_t modifierFlags, NSString* characters);

  int64_t type() const { return type_; }
  uint64_t modifierFlags() const { return modifier_flags_; }
  NSString* charactersIgnoringModifiers() const { return characters_; }
  NSPoint locationInWindow() const { return location_; }
  double timestamp() const { return timestamp_; }
  int64_t windowNumber() const { return window_number_; }
  int16_t subtype() const { return subtype_; }
  int64_t data1() const { return data1_; }
  int64_t data2() const { return data2_; }

 protected:
  void dealloc() override;

 private:
  int64_t type_ = 0;
  uint64_t modifier_flags_ = 0;
  NSString* characters_ = nullptr;
  NSPoint location_{0, 0};
  double timestamp_ = 0;
  int64_t window_number_ = 0;
  int16_t subtype_ = 0;
  int64_t data1_ = 0;
  int64_t data2_ = 0;
};

// The run-loop mode that the pending-event question names.
NSString* NSDefaultRunLoopMode();

// ---------------------------------------------------------------------------------------------
// Menus.

class NSMenu;

class NSMenuItem : public NSObject {
 public:
  const char* className() const override { return "NSMenuItem"; }
  // initWithTitle:action:keyEquivalent:
  NSMenuItem* initWithTitle(NSString* title, SEL action, NSString* keyEquivalent);
  // separatorItem: a new separator, autoreleased.
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
  // refused (a fault), as the framework refuses it.
  void addItem(NSMenuItem* item);
  void insertItemAtIndex(NSMenuItem* item, int64_t index);
  // removeItem: drops an item of this menu; others are ignored.
  void removeItem(NSMenuItem* item);
  int64_t numberOfItems() const { return static_cast<int64_t>(items_.size()); }
  NSMenuItem* itemAtIndex(int64_t index) const;
  int64_t indexOfItem(const NSMenuItem* item) const;
  // performActionForItemAtIndex: what choosing the item does: its action goes to its target, or
  // along the responder chain without one, from the item.
  void performActionForItemAtIndex(int64_t index);

 protected:
  void dealloc() override;

 private:
  NSString* title_ = nullptr;
  std::vector<NSMenuItem*> items_;
};

// ---------------------------------------------------------------------------------------------
// Views, controls, windows and screens.

class NSWindow;

class NSFont : public NSObject {
 public:
  NSFont(std::u16string name, double size) : name_(std::move(name)), size_(size) {}
  const char* className() const override { return "NSFont"; }
  static NSFont* fontWithName(std::u16string_view name, double size);
  const std::u16string& fontName() const { return name_; }
  double pointSize() const { return size_; }

 private:
  std::u16string name_;
  double size_;
};

class NSView : public NSObject {
 public:
  NSView() = default;
  const char* className() const override { return "NSView"; }
  NSView* initWithFrame(NSRect frame);

  NSRect frame() const { return frame_; }
  void setFrame(NSRect frame) { frame_ = frame; }
  NSView* superview() const { return superview_; }
  const std::vector<NSView*>& subviews() const { return subviews_; }
  // addSubview: the superview retains the view.
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
  std::vector<NSView*> subviews_;
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
  const std::vector<NSWindow*>& childWindows() const { return children_; }
  // addChildWindow:ordered: the parent retains the child until removeChildWindow:.
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
  std::vector<NSWindow*> children_;
  NSObject* first_responder_ = nullptr;
  bool visible_ = true;
  bool released_when_closed_ = true;
};

inline constexpr const char* NSDeviceSize = "NSDeviceSize";

class NSScreen : public NSObject {
 public:
  const char* className() const override { return "NSScreen"; }
  // mainScreen: the screen with the menu bar, or nil when the model has none.
  static NSScreen* mainScreen();
  NSRect frame() const { return frame_; }
  // deviceDescription: NSDeviceSize (an NSValue of the pixel size) and "NSScreenNumber" (an
  // NSNumber of the display).
  NSDictionary* deviceDescription() const { return description_; }

 protected:
  void dealloc() override;

 private:
  friend void DesktopTestSetScreen(NSRect, NSSize, NSSize, uint32_t);
  NSRect frame_{};
  NSDictionary* description_ = nullptr;
};

// CGDisplayScreenSize: the display's physical size in millimetres; zero for an unknown display.
CGSize CGDisplayScreenSize(uint32_t display);

// ---------------------------------------------------------------------------------------------
// The application.

class NSApplication;

// NSApp: the shared application, nil until sharedApplication makes it.
extern NSApplication* NSApp;

inline constexpr int64_t NSApplicationActivationPolicyRegular = 0;
inline constexpr int64_t NSTerminateCancel = 0;
inline constexpr int64_t NSTerminateNow = 1;

class NSApplication : public NSObject {
 public:
  NSApplication() = default;
  const char* className() const override { return "NSApplication"; }
  // sharedApplication: NSApp, made an NSApplication when there is none yet.
  static NSApplication* sharedApplication();
  // sharedApplicationOfClass: NSApp, made by `make` when there is none yet (how a subclass's
  // sharedApplication makes NSApp an instance of itself).
  static NSApplication* sharedApplicationOfClass(NSApplication* (*make)());

  NSObject* delegate() const { return delegate_; }
  void setDelegate(NSObject* delegate) { delegate_ = delegate; }
  NSMenu* mainMenu() const { return main_menu_; }
  // setMainMenu: the application retains the menu bar.
  void setMainMenu(NSMenu* menu);
  void finishLaunching() { ++finish_launching_calls_; }
  int64_t finishLaunchingCalls() const { return finish_launching_calls_; }
  void setActivationPolicy(int64_t policy) { activation_policy_ = policy; }
  int64_t activationPolicy() const { return activation_policy_; }
  NSWindow* keyWindow() const { return key_window_; }

  // sendEvent: dispatches an event; the model records what reaches it.
  virtual void sendEvent(NSEvent* event);
  // sendAction:to:from: the action goes to the target when one is given, otherwise to the first
  // object of the responder chain, the application or its delegate that responds to it; true
  // when someone did.
  bool sendAction(SEL action, NSObject* target, NSObject* sender);
  // postEvent:atStart: queues the event (retained) at the head or the tail.
  void postEvent(NSEvent* event, bool atStart);
  // nextEventMatchingMask:untilDate:inMode:dequeue: the first queued event, never waiting; when
  // dequeued it is handed out autoreleased.
  NSEvent* nextEventMatchingMask(uint64_t mask, double untilDate, NSString* mode, bool dequeue);

  // Test support: the responder chain (retained), the queue and what sendEvent received.
  void addResponder(NSObject* responder);
  void removeAllResponders();
  int64_t queuedEventCount() const { return static_cast<int64_t>(queue_.size()); }
  NSEvent* queuedEventAt(int64_t index) const;
  void discardQueuedEvents();
  int64_t dispatchedEventCount() const { return dispatched_count_; }
  NSEvent* lastDispatchedEvent() const { return last_dispatched_; }
  void forgetDispatchedEvents();

 protected:
  void dealloc() override;

 private:
  friend class NSWindow;
  NSObject* delegate_ = nullptr;
  NSMenu* main_menu_ = nullptr;
  NSWindow* key_window_ = nullptr;
  int64_t finish_launching_calls_ = 0;
  int64_t activation_policy_ = -1;
  std::vector<NSObject*> responders_;
  std::deque<NSEvent*> queue_;
  int64_t dispatched_count_ = 0;
  NSEvent* last_dispatched_ = nullptr;  // retained
};

// ---------------------------------------------------------------------------------------------
// The image side, used by the image library (image objects and the drawing state).

inline constexpr uint64_t NSBitmapFormatAlphaFirst = 1ULL << 0;
inline constexpr uint64_t NSBitmapFormatAlphaNonpremultiplied = 1ULL << 1;
inline constexpr uint64_t NSBitmapFormatFloatingPointSamples = 1ULL << 2;

// The colour space name of device RGB, a constant string.
NSString* NSDeviceRGBColorSpace();

class NSImageRep : public NSObject {
 public:
  const char* className() const override { return "NSImageRep"; }
};

// NSBitmapImageRep: a bitmap with 8-bit samples. Without planes it owns zeroed pixel memory of
// bytesPerRow x height bytes; with planes it draws on the caller's memory.
class NSBitmapImageRep : public NSImageRep {
 public:
  NSBitmapImageRep() = default;
  const char* className() const override { return "NSBitmapImageRep"; }
  // initWithBitmapDataPlanes:pixelsWide:pixelsHigh:bitsPerSample:samplesPerPixel:hasAlpha:
  // isPlanar:colorSpaceName:bitmapFormat:bytesPerRow:bitsPerPixel: A bytesPerRow or
  // bitsPerPixel of 0 is computed (width x samples bytes; samples x 8 bits). Gives nil, the
  // object released, for sizes below 1, samples other than 8 bits or 1 to 4 per pixel, planar
  // data, rows too short, a size that overflows, or refused memory.
  NSBitmapImageRep* initWithBitmapDataPlanes(unsigned char** planes, int64_t pixelsWide,
                                             int64_t pixelsHigh, int64_t bitsPerSample,
                                             int64_t samplesPerPixel, bool hasAlpha, bool isPlanar,
                                             NSString* colorSpaceName, uint64_t bitmapFormat,
                                             int64_t bytesPerRow, int64_t bitsPerPixel);
  unsigned char* bitmapData() const { return data_; }
  int64_t pixelsWide() const { return width_; }
  int64_t pixelsHigh() const { return height_; }
  int64_t bitsPerSample() const { return bits_per_sample_; }
  int64_t samplesPerPixel() const { return samples_; }
  int64_t bitsPerPixel() const { return bits_per_pixel_; }
  int64_t bytesPerRow() const { return bytes_per_row_; }
  bool hasAlpha() const { return has_alpha_; }
  uint64_t bitmapFormat() const { return format_; }
  NSString* colorSpaceName() const { return colour_space_name_; }

 protected:
  void dealloc() override;

 private:
  unsigned char* data_ = nullptr;
  bool owns_data_ = false;
  int64_t width_ = 0;
  int64_t height_ = 0;
  int64_t bits_per_sample_ = 0;
  int64_t samples_ = 0;
  int64_t bits_per_pixel_ = 0;
  int64_t bytes_per_row_ = 0;
  bool has_alpha_ = false;
  uint64_t format_ = 0;
  NSString* colour_space_name_ = nullptr;
};

class NSImage : public NSObject {
 public:
  NSImage() = default;
  const char* className() const override { return "NSImage"; }
  // initWithSize: nil (the object released) when the failure switch says so.
  NSImage* initWithSize(NSSize size);
  NSSize size() const { return size_; }
  void setDataRetained(bool flag) { data_retained_ = flag; }
  bool isDataRetained() const { return data_retained_; }
  // addRepresentation: the image retains the representation.
  void addRepresentation(NSImageRep* representation);
  int64_t representationCount() const { return static_cast<int64_t>(representations_.size()); }
  NSImageRep* representationAt(int64_t index) const;

 protected:
  void dealloc() override;

 private:
  NSSize size_{0, 0};
  bool data_retained_ = false;
  std::vector<NSImageRep*> representations_;
};

// Graphics objects. Each Create gives one reference; each Release drops one (null does nothing).
struct CGAffineTransform {
  double a;
  double b;
  double c;
  double d;
  double tx;
  double ty;
};
extern const CGAffineTransform CGAffineTransformIdentity;

inline bool CGAffineTransformEqualToTransform(const CGAffineTransform& t1,
                                              const CGAffineTransform& t2) {
  return t1.a == t2.a && t1.b == t2.b && t1.c == t2.c && t1.d == t2.d && t1.tx == t2.tx &&
         t1.ty == t2.ty;
}

class CGColorSpace : public NSObject {
 public:
  const char* className() const override { return "CGColorSpace"; }
};
using CGColorSpaceRef = CGColorSpace*;

class CGContext : public NSObject {
 public:
  const char* className() const override { return "CGContext"; }
  int64_t flushCount() const { return flushes_; }
  CGAffineTransform textMatrix() const { return text_matrix_; }
  int64_t textMatrixSets() const { return text_matrix_sets_; }

 private:
  friend void CGContextFlush(CGContext*);
  friend void CGContextSetTextMatrix(CGContext*, CGAffineTransform);
  int64_t flushes_ = 0;
  int64_t text_matrix_sets_ = 0;
  CGAffineTransform text_matrix_ = CGAffineTransformIdentity;
};
using CGContextRef = CGContext*;

class CGGradient : public NSObject {
 public:
  const char* className() const override { return "CGGradient"; }
};
using CGGradientRef = CGGradient*;

class CGImage : public NSObject {
 public:
  CGImage(int64_t width, int64_t height) : width_(width), height_(height) {}
  const char* className() const override { return "CGImage"; }
  int64_t width() const { return width_; }
  int64_t height() const { return height_; }

 private:
  int64_t width_;
  int64_t height_;
};
using CGImageRef = CGImage*;

CGColorSpaceRef CGColorSpaceCreateDeviceRGB();
void CGColorSpaceRelease(CGColorSpaceRef space);
// CGBitmapContextCreate: a context drawing into the caller's pixels (the model keeps no pixels).
CGContextRef CGBitmapContextCreate(void* data, uint64_t width, uint64_t height,
                                   uint64_t bitsPerComponent, uint64_t bytesPerRow,
                                   CGColorSpaceRef space, uint32_t bitmapInfo);
void CGContextRelease(CGContextRef context);
void CGContextFlush(CGContextRef context);
void CGContextSetTextMatrix(CGContextRef context, CGAffineTransform matrix);
CGAffineTransform CGContextGetTextMatrix(CGContextRef context);
CGGradientRef CGGradientCreateWithColorComponents(CGColorSpaceRef space, const double* components,
                                                  const double* locations, uint64_t count);
void CGGradientRelease(CGGradientRef gradient);
CGImageRef CGImageCreateForSize(int64_t width, int64_t height);
void CGImageRelease(CGImageRef image);

// ---------------------------------------------------------------------------------------------
// Test support.

// DesktopLiveObjects: objects created and not yet destroyed (constant strings excluded).
int64_t DesktopLiveObjects();
// DesktopFaults: calls the framework would have refused; DesktopLastFault names the last one.
int64_t DesktopFaults();
std::string DesktopLastFault();
void DesktopFault(std::string what);

// The call log: while on, the model records its observable calls ("NSWindow close", "dealloc
// NSMenu" ...) in order; the hook, when set, is called with each entry as it is recorded.
void DesktopCallLogStart(std::function<void(std::string_view)> hook = {});
std::vector<std::string> DesktopCallLogTake();
void DesktopLog(std::string entry);

// The main bundle's executable path, instead of the running executable's (empty: the real one).
void DesktopTestSetExecutablePath(std::u16string path);
// GetCurrentProcess fails while this is set; SetFrontProcess calls are counted.
void DesktopTestFailGetCurrentProcess(bool fail);
int64_t DesktopFrontProcessCalls();
// The main screen: its frame, pixel size, physical size in millimetres and display number.
void DesktopTestSetScreen(NSRect frame, NSSize pixels, NSSize millimetres, uint32_t display);
// Whether there is a main screen at all (there is one by default).
void DesktopTestSetNoScreen(bool none);
// The next `successes` NSImage or NSBitmapImageRep creations succeed and the one after them
// fails (once); -1 turns the switch off.
void DesktopTestFailImageCreation(int64_t successes);
// DesktopTestReset: releases the shared application, the defaults, the bundle, the screen and
// every autorelease pool, and clears the log, the faults and the switches. What other code still
// holds stays its own to release.
void DesktopTestReset();

}  // namespace zn::desktop
