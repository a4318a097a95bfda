// Why an image file operation failed. The inner steps of a load or a save (opening the file,
// probing its header, writing it out) note the first thing that went wrong; ImageLoad and
// ImageSave publish that note when they return, so the codec-level operations that share those
// steps never change what ImageLastFailure says about the last load or save.
#include <cerrno>
#include <cstdint>
#include <iterator>

#include "runtime/images/images.h"
#include "runtime/images/images_internal.h"

namespace zn {
namespace {

constexpr ImageFailure kNoFailure = {ImageFailureReason::kNone, 0};

// Per thread, as errno is: two threads loading pictures each see their own reason.
thread_local ImageFailure last_failure = kNoFailure;
thread_local ImageFailure pending_failure = kNoFailure;

// In the order of the enumeration.
constexpr const char* kFailureTexts[] = {
    "no failure",
    "invalid argument",
    "no image has that number",
    "no encoder for that format",
    "no such file",
    "permission denied",
    "not a regular file",
    "the file cannot be opened without waiting",
    "too many levels of symbolic links",
    "file name too long",
    "not a picture in a format that can be read",
    "picture layout not supported",
    "damaged or incomplete picture",
    "picture wider or taller than 32767 pixels",
    "picture has more pixels than the pixel budget",
    "out of memory",
    "read error",
    "write error",
};
static_assert(std::size(kFailureTexts) == static_cast<size_t>(ImageFailureReason::kWriteError) + 1);

}  // namespace

ImageFailure ImageLastFailure() {
  return last_failure;
}

const char* ImageFailureText(ImageFailureReason reason) {
  const auto index = static_cast<uint32_t>(reason);
  return index < std::size(kFailureTexts) ? kFailureTexts[index] : "unknown reason";
}

void ImageFailureBegin() {
  pending_failure = kNoFailure;
}

void ImageFailureNote(ImageFailureReason reason, int32_t system_error) {
  // The first note is the cause; what fails after it (closing, removing) is a consequence.
  if (pending_failure.reason == ImageFailureReason::kNone) {
    pending_failure = {reason, system_error};
  }
}

void ImageFailureNoteErrno(int system_error, ImageFailureReason otherwise) {
  ImageFailureReason reason = otherwise;
  switch (system_error) {
    case ENOENT:
    case ENOTDIR:
      reason = ImageFailureReason::kMissingFile;
      break;
    case EACCES:
    case EPERM:
    case EROFS:
      reason = ImageFailureReason::kAccessDenied;
      break;
    case EISDIR:
      reason = ImageFailureReason::kNotRegularFile;
      break;
    case EAGAIN:
    case ENXIO:
      reason = ImageFailureReason::kWouldBlock;
      break;
    case ELOOP:
      reason = ImageFailureReason::kLinkLoop;
      break;
    case ENAMETOOLONG:
      reason = ImageFailureReason::kNameTooLong;
      break;
    case ENOMEM:
      reason = ImageFailureReason::kOutOfMemory;
      break;
    default:
      break;
  }
  ImageFailureNote(reason, system_error);
}

void ImageFailureEnd(bool succeeded, ImageFailureReason otherwise) {
  if (succeeded) {
    last_failure = kNoFailure;
  } else if (pending_failure.reason != ImageFailureReason::kNone) {
    last_failure = pending_failure;
  } else {
    last_failure = {otherwise, 0};
  }
  pending_failure = kNoFailure;
}

}  // namespace zn
