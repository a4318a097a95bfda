// The desktop model's shared names: the classes of every part (declared only), the selector, the
// plain value records of geometry and transforms, the graphics handles, and the event type and
// modifier codes. A header that only passes objects around (the image library's records hold
// image, bitmap and graphics handles) needs nothing more than this.
#pragma once

#include <cstdint>
#include <string_view>

namespace zn::desktop {

// The classes of every part; each part's header defines its own.
class NSObject;
class NSAutoreleasePool;
class NSString;
class NSNumber;
class NSValue;
class NSArray;
class NSMutableArray;
class NSDictionary;
class NSUserDefaults;
class NSBundle;
class NSEvent;
class NSGraphicsContext;
class NSApplication;
class NSMenu;
class NSMenuItem;
class NSFont;
class NSView;
class NSControl;
class NSWindow;
class NSScreen;
class NSImageRep;
class NSBitmapImageRep;
class NSImage;
class CGColorSpace;
class CGContext;
class CGGradient;
class CGImage;
using CGColorSpaceRef = CGColorSpace*;
using CGContextRef = CGContext*;
using CGGradientRef = CGGradient*;
using CGImageRef = CGImage*;

// The model's own files reach private state of its classes through this one friend.
struct ModelAccess;

// A selector, named as in the framework ("copy:", "windowID"). Empty for no selector.
using SEL = std::string_view;

// NSSelectorFromString: the selector with this name; the text must outlive its use.
inline SEL NSSelectorFromString(const char* name) {
  return SEL(name);
}

// ---------------------------------------------------------------------------------------------
// Geometry and transforms.

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

// ---------------------------------------------------------------------------------------------
// Event types and modifier flags.

inline constexpr int64_t NSEventTypeKeyDown = 10;
inline constexpr int64_t NSEventTypeApplicationDefined = 15;
inline constexpr uint64_t NSEventModifierFlagShift = 1ULL << 17;
inline constexpr uint64_t NSEventModifierFlagControl = 1ULL << 18;
inline constexpr uint64_t NSEventModifierFlagOption = 1ULL << 19;
inline constexpr uint64_t NSEventModifierFlagCommand = 1ULL << 20;
inline constexpr uint64_t NSEventModifierFlagDeviceIndependentFlagsMask = 0xFFFF0000ULL;
inline constexpr uint64_t NSEventMaskAny = ~0ULL;

}  // namespace zn::desktop
