// Desktop metrics: the main screen's resolution and conversions between length units.
//
// The resolution uses the millimetres per inch held in single precision (25.399999618530273),
// as the screen's own measure does; the conversions use the exact 25.4.
#include <cstdint>

#include "platform/gadgets/gadgets.h"
#include "system/desktop/foundation.h"
#include "system/desktop/screens.h"

namespace zn {

using namespace desktop;

namespace {

constexpr double kScreenMillimetresPerInch = static_cast<double>(25.4f);
constexpr double kMillimetresPerInch = 25.4;
constexpr double kPointsPerInch = 72;
// What an axis reports when the display gives no physical size: the framework's nominal density,
// instead of an infinite or undefined quotient.
constexpr double kNominalDpi = 72;

double AxisResolution(double pixels, double millimetres) {
  if (!(millimetres > 0)) {
    return kNominalDpi;
  }
  return pixels / millimetres * kScreenMillimetresPerInch;
}

}  // namespace

void ScreenResolution(double* resolution) {
  NSScreen* screen = NSScreen::mainScreen();
  NSSize pixels{0, 0};
  CGSize millimetres{0, 0};
  if (screen != nullptr) {
    // Sends to nil: a screen or description missing for want of memory reads as no screen.
    NSDictionary* description = screen->deviceDescription();
    if (const auto* size = dynamic_cast<const NSValue*>(
            objc_msgSend(description, &NSDictionary::objectForKey, NSSTR(u"NSDeviceSize")))) {
      pixels = size->sizeValue();
    }
    if (const auto* number = dynamic_cast<const NSNumber*>(
            objc_msgSend(description, &NSDictionary::objectForKey, NSSTR(u"NSScreenNumber")))) {
      millimetres = CGDisplayScreenSize(number->unsignedIntValue());
    }
  }
  resolution[0] = AxisResolution(pixels.width, millimetres.width);
  resolution[1] = AxisResolution(pixels.height, millimetres.height);
}

double UnitConvert(int32_t from, int32_t to, double value, double resolution) {
  if (from == to) {
    return value;
  }
  switch (from) {
    case UnitMillimetre:
      value /= kMillimetresPerInch;
      break;
    case UnitPoint:
      value /= kPointsPerInch;
      break;
    case UnitPixel:
      value /= resolution;
      break;
    default:
      break;
  }
  switch (to) {
    case UnitPixel:
      return value * resolution;
    case UnitPoint:
      return value * kPointsPerInch;
    case UnitMillimetre:
      return value * kMillimetresPerInch;
    default:
      return value;
  }
}

}  // namespace zn
