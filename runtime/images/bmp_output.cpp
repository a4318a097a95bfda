// Where the BMP writer's bytes go: a new memory block, or a file put in place atomically.
//
// The replacement rule: the new file is written under a temporary name in the target's own folder
// (so that the rename cannot cross file systems) and renamed over the target only when every byte
// was written and the stream closed without error. Any failure removes the temporary file; the
// target keeps its old bytes. A target that exists but may not be written is refused, as opening
// it for writing would be; an existing target's permission bits carry over to the new file, and a
// symbolic link stays in place with the file it names replaced.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

std::atomic<uint32_t> temporary_counter{0};

char* TextCopy(const char* text) {
  const size_t length = std::strlen(text);
  auto* copy = static_cast<char*>(SizedAlloc(length + 1));
  if (copy != nullptr) {
    std::memcpy(copy, text, length + 1);
  }
  return copy;
}

// The file the save replaces: the target of a symbolic link, or the name as given.
char* OutputTargetName(const char* file_name) {
  char* resolved = realpath(file_name, nullptr);
  if (resolved == nullptr) {
    return TextCopy(file_name);
  }
  char* copy = TextCopy(resolved);
  std::free(resolved);  // realpath's block comes from malloc
  return copy;
}

// Creates the temporary file beside `target`; its descriptor, or -1.
int OutputCreateTemporary(const char* target, char** temp_name) {
  const char* slash = std::strrchr(target, '/');
  const size_t folder = slash == nullptr ? 0 : static_cast<size_t>(slash - target) + 1;
  const size_t bytes = folder + 48;
  auto* name = static_cast<char*>(SizedAlloc(bytes));
  if (name == nullptr) {
    return -1;
  }
  std::memcpy(name, target, folder);
  for (int attempt = 0; attempt < kTemporaryAttempts; ++attempt) {
    std::snprintf(name + folder, bytes - folder, ".zn-bmp-%ld-%u.tmp", static_cast<long>(getpid()),
                  temporary_counter.fetch_add(1, std::memory_order_relaxed));
    const int fd = open(name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) {
      *temp_name = name;
      return fd;
    }
    if (errno != EEXIST) {
      break;
    }
  }
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

bool OutputOpenFile(BmpOutput* output, const char* file_name) {
  output->target_name = OutputTargetName(file_name);
  if (output->target_name == nullptr) {
    return false;
  }
  struct stat existing {};
  const bool exists = stat(output->target_name, &existing) == 0;
  if (exists && (!S_ISREG(existing.st_mode) || access(output->target_name, W_OK) != 0)) {
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
  output->file = fdopen(fd, "wb");
  if (output->file == nullptr) {
    close(fd);
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
    return count == 0 || std::fwrite(bytes, 1, count, output->file) == count;
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
  bool placed = written && closed && std::rename(output->temp_name, output->target_name) == 0;
  if (!placed) {
    unlink(output->temp_name);
  }
  OutputRelease(output);
  return placed ? 1 : 0;
}

}  // namespace zn
