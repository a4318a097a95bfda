// zn::Error's text, and the check that the face's reasons stay the image library's, value for
// value: an Error is made from ImageLastFailure by a cast.
#include "zn/result.h"

#include "runtime/images/images.h"

namespace zn {

namespace {

using C = ImageFailureReason;

constexpr bool SameReason(Reason face, C library) {
  return static_cast<int32_t>(face) == static_cast<int32_t>(library);
}

static_assert(SameReason(Reason::None, C::kNone) &&
                  SameReason(Reason::BadArgument, C::kBadArgument) &&
                  SameReason(Reason::NoSuchImage, C::kNoSuchImage) &&
                  SameReason(Reason::UnknownFormat, C::kUnknownFormat) &&
                  SameReason(Reason::MissingFile, C::kMissingFile) &&
                  SameReason(Reason::AccessDenied, C::kAccessDenied) &&
                  SameReason(Reason::NotRegularFile, C::kNotRegularFile) &&
                  SameReason(Reason::WouldBlock, C::kWouldBlock) &&
                  SameReason(Reason::LinkLoop, C::kLinkLoop) &&
                  SameReason(Reason::NameTooLong, C::kNameTooLong) &&
                  SameReason(Reason::NotAPicture, C::kNotAPicture) &&
                  SameReason(Reason::LayoutNotSupported, C::kLayoutNotSupported) &&
                  SameReason(Reason::Damaged, C::kDamaged) &&
                  SameReason(Reason::TooLarge, C::kTooLarge) &&
                  SameReason(Reason::OverBudget, C::kOverBudget) &&
                  SameReason(Reason::OutOfMemory, C::kOutOfMemory) &&
                  SameReason(Reason::ReadError, C::kReadError) &&
                  SameReason(Reason::WriteError, C::kWriteError),
              "zn::Reason mirrors ImageFailureReason");

}  // namespace

const char* Error::text() const noexcept {
  return ImageFailureText(static_cast<ImageFailureReason>(reason));
}

}  // namespace zn
