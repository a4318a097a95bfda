// Where the BMP writer's bytes go: a new memory block, or a file put in place atomically.
//
// The replacement rule: the new file is written under a temporary name in the target's own folder
// (so that the rename cannot cross file systems) and renamed over the target only when every byte
// was written and the stream closed without error. Any failure removes the temporary file; the
// target keeps its old bytes. A target that exists but may not be written is refused, as opening
// it for writing would be; an existing target's permission bits carry over to the new file.
// Symbolic links are followed to the file they name, which is replaced (or created, when a link
// dangles) while the links stay links.
//
// A device or a pipe has no folder entry to replace: it is written directly, and what a failed save
// wrote there cannot be taken back.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "runtime/images/images_internal.h"
#include "runtime/memory/memory.h"

namespace zn {
namespace {

constexpr int kTemporaryAttempts = 64;
constexpr size_t kTemporaryNameBytes = 48;  // ".zn-bmp-PID-COUNTER.tmp" and its 0
constexpr size_t kShortNameBytes = 8;
// The links followed from one name before it counts as a loop, as the system counts them.
constexpr int kLinkHops = 40;

std::atomic<uint32_t> temporary_counter{0};

char* TextCopy(const char* text, size_t length) {
  auto* copy = static_cast<char*>(SizedAlloc(length + 1));
  if (copy == nullptr) {
    ImageFailureNote(ImageFailureReason::kOutOfMemory, 0);
    return nullptr;
  }
  std::memcpy(copy, text, length);
  copy[length] = 0;
  return copy;
}

// The length of the folder part of `name`, its last slash included.
size_t FolderLength(const char* name) {
  const char* slash = std::strrchr(name, '/');
  return slash == nullptr ? 0 : static_cast<size_t>(slash - name) + 1;
}

// What the link `link` holds, a relative one taken from the link's own folder; null when it
// cannot be read.
char* OutputLinkTarget(const char* link) {
  size_t capacity = PATH_MAX;
  for (;;) {
    auto* buffer = static_cast<char*>(SizedAlloc(capacity));
    if (buffer == nullptr) {
      ImageFailureNote(ImageFailureReason::kOutOfMemory, 0);
      return nullptr;
    }
    const ssize_t length = readlink(link, buffer, capacity);
    if (length < 0) {
      ImageFailureNoteErrno(errno, ImageFailureReason::kWriteError);
      SizedFree(buffer);
      return nullptr;
    }
    if (static_cast<size_t>(length) < capacity) {
      const size_t folder = buffer[0] == '/' ? 0 : FolderLength(link);
      char* joined = static_cast<char*>(SizedAlloc(folder + static_cast<size_t>(length) + 1));
      if (joined != nullptr) {
        std::memcpy(joined, link, folder);
        std::memcpy(joined + folder, buffer, static_cast<size_t>(length));
        joined[folder + static_cast<size_t>(length)] = 0;
      } else {
        ImageFailureNote(ImageFailureReason::kOutOfMemory, 0);
      }
      SizedFree(buffer);
      return joined;
    }
    SizedFree(buffer);  // it may have been cut: again with more room
    capacity *= 2;
  }
}

// The file a save replaces: `file_name` with the symbolic links of its last part followed, so that
// the links stay and the file they name is replaced, or created where a link dangles. Null (with
// the reason noted) when the links loop.
char* OutputFollowLinks(const char* file_name) {
  char* name = TextCopy(file_name, std::strlen(file_name));
  for (int hop = 0; name != nullptr; ++hop) {
    struct stat info {};
    if (lstat(name, &info) != 0 || !S_ISLNK(info.st_mode)) {
      return name;  // what a missing name or folder means is for the creation to say
    }
    char* next = hop < kLinkHops ? OutputLinkTarget(name) : nullptr;
    if (hop == kLinkHops) {
      ImageFailureNote(ImageFailureReason::kLinkLoop, ELOOP);
    }
    SizedFree(name);
    name = next;
  }
  return nullptr;
}

// Writes a temporary name of `length` characters (at least 1) at `out`: a dot and base-36
// digits of `seed`.
void OutputShortName(char* out, size_t length, uint64_t seed) {
  static constexpr char kDigits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
  size_t i = 0;
  if (length > 1) {
    out[i++] = '.';
  }
  for (; i < length; ++i, seed /= 36) {
    out[i] = kDigits[seed % 36];
  }
  out[length] = 0;
}

// Creates the temporary file beside `target`; its descriptor, or -1 (with the reason noted).
// Where the usual name would make the path longer than the system takes, the temporary name is
// no longer than the target's own last part, so every name that can be saved to has room for one.
int OutputCreateTemporary(const char* target, char** temp_name) {
  const size_t folder = FolderLength(target);
  const size_t last_part = std::strlen(target) - folder;
  const bool usual_fits = folder + kTemporaryNameBytes <= PATH_MAX;
  auto* name = static_cast<char*>(SizedAlloc(folder + kTemporaryNameBytes));
  if (name == nullptr) {
    ImageFailureNote(ImageFailureReason::kOutOfMemory, 0);
    return -1;
  }
  std::memcpy(name, target, folder);
  int error = EEXIST;
  for (int attempt = 0; attempt < kTemporaryAttempts && error == EEXIST; ++attempt) {
    const auto pid = static_cast<uint64_t>(getpid());
    const uint32_t count = temporary_counter.fetch_add(1, std::memory_order_relaxed);
    if (usual_fits) {
      std::snprintf(name + folder, kTemporaryNameBytes, ".zn-bmp-%llu-%u.tmp",
                    static_cast<unsigned long long>(pid), count);
    } else {
      OutputShortName(name + folder, std::clamp<size_t>(last_part, 1, kShortNameBytes),
                      pid * 1000003U + count);
    }
    const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *temp_name = name;
      return fd;
    }
    error = errno;
  }
  ImageFailureNoteErrno(error, ImageFailureReason::kWriteError);
  SizedFree(name);
  return -1;
}

void OutputRelease(BmpOutput* output) {
  SizedFree(output->temp_name);
  SizedFree(output->target_name);
  output->temp_name = nullptr;
  output->target_name = nullptr;
  output->file = nullptr;
}

// Whether a file of `size` bytes stays within the process's file-size limit. Writing past the
// limit raises SIGXFSZ, whose default action ends the process half-way through the save and
// leaves the temporary file behind; such a save is refused before a byte is written instead. The
// signal's disposition belongs to the program and is left alone.
bool OutputWithinSizeLimit(uint64_t size) {
  struct rlimit limit {};
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY ||
      size <= limit.rlim_cur) {
    return true;
  }
  ImageFailureNote(ImageFailureReason::kWriteError, EFBIG);
  return false;
}

// Attaches a stream to `fd`; closes it on failure.
bool OutputStream(BmpOutput* output, int fd) {
  output->file = fdopen(fd, "wb");
  if (output->file == nullptr) {
    ImageFailureNoteErrno(errno, ImageFailureReason::kOutOfMemory);
    close(fd);
    return false;
  }
  return true;
}

// A device or a pipe, written where it is.
bool OutputOpenDirect(BmpOutput* output, const char* file_name, const struct stat& existing) {
  if (S_ISDIR(existing.st_mode)) {
    ImageFailureNote(ImageFailureReason::kNotRegularFile, EISDIR);
    return false;
  }
  // Opened without waiting, so that a FIFO nobody reads refuses (ENXIO) instead of holding the
  // save up for ever; once open, the bytes go out as the reader takes them.
  const int fd = open(file_name, O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) {
    ImageFailureNoteErrno(errno, ImageFailureReason::kWriteError);
    return false;
  }
  const int flags = fcntl(fd, F_GETFL);
  if (flags == -1 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == -1) {
    ImageFailureNoteErrno(errno, ImageFailureReason::kWriteError);
    close(fd);
    return false;
  }
  return OutputStream(output, fd);
}

bool OutputOpenFile(BmpOutput* output, const char* file_name) {
  struct stat existing {};
  // The name as the system resolves it shows a loop of links, or a device or pipe behind them.
  if (stat(file_name, &existing) == 0) {
    if (!S_ISREG(existing.st_mode)) {
      return OutputOpenDirect(output, file_name, existing);
    }
  } else if (errno != ENOENT) {
    ImageFailureNoteErrno(errno, ImageFailureReason::kWriteError);
    return false;
  }
  output->target_name = OutputFollowLinks(file_name);
  if (output->target_name == nullptr) {
    return false;
  }
  const bool exists = stat(output->target_name, &existing) == 0;
  if (exists && (!S_ISREG(existing.st_mode) || access(output->target_name, W_OK) != 0)) {
    ImageFailureNoteErrno(S_ISREG(existing.st_mode) ? errno : EISDIR,
                          ImageFailureReason::kWriteError);
    OutputRelease(output);
    return false;
  }
  if (!OutputWithinSizeLimit(output->size)) {
    OutputRelease(output);
    return false;
  }
  const int fd = OutputCreateTemporary(output->target_name, &output->temp_name);
  if (fd < 0) {
    OutputRelease(output);
    return false;
  }
  if (exists) {
    fchmod(fd, existing.st_mode & 07777);  // best effort, like the owner's own copy
  }
  if (!OutputStream(output, fd)) {
    unlink(output->temp_name);
    OutputRelease(output);
    return false;
  }
  return true;
}

}  // namespace

bool BmpOutputOpen(BmpOutput* output, const char* file_name, uint64_t size) {
  *output = BmpOutput{};
  output->size = size;
  if (file_name != nullptr) {
    return OutputOpenFile(output, file_name);
  }
  if (size > INT64_MAX) {
    return false;
  }
  output->block =
      static_cast<uint8_t*>(MemoryBlockAllocate(static_cast<int64_t>(size), kMemoryBlockNoClear));
  return output->block != nullptr;
}

bool BmpOutputWrite(BmpOutput* output, const void* bytes, uint64_t count) {
  if (output->block == nullptr) {
    if (count == 0 || std::fwrite(bytes, 1, count, output->file) == count) {
      return true;
    }
    ImageFailureNoteErrno(errno, ImageFailureReason::kWriteError);
    return false;
  }
  if (count > output->size - output->position) {
    return false;  // never past the block
  }
  std::memcpy(output->block + output->position, bytes, count);
  output->position += count;
  return true;
}

uint8_t* BmpOutputReserve(BmpOutput* output, uint64_t count) {
  if (output->block == nullptr || count > output->size - output->position) {
    return nullptr;
  }
  uint8_t* place = output->block + output->position;
  output->position += count;
  return place;
}

int64_t BmpOutputFinish(BmpOutput* output, bool written) {
  if (output->block != nullptr) {
    if (written && output->position == output->size) {
      return reinterpret_cast<int64_t>(output->block);
    }
    MemoryBlockFree(output->block);
    output->block = nullptr;
    return 0;
  }
  // fclose reports the errors of the last buffered writes (a full disk shows up here).
  const bool closed = std::fclose(output->file) == 0;
  if (!closed) {
    ImageFailureNoteErrno(errno, ImageFailureReason::kWriteError);
  }
  if (output->temp_name == nullptr) {  // written directly
    OutputRelease(output);
    return written && closed ? 1 : 0;
  }
  const bool placed = written && closed && std::rename(output->temp_name, output->target_name) == 0;
  if (!placed) {
    if (written && closed) {
      ImageFailureNoteErrno(errno, ImageFailureReason::kWriteError);
    }
    unlink(output->temp_name);
  }
  OutputRelease(output);
  return placed ? 1 : 0;
}

}  // namespace zn
