#include "installer/core/szdd_expand.h"

#include <mspack.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "platform/errors.h"

namespace setup {

namespace {

// libmspack reads and writes through an mspack_system; ours serves two
// memory buffers, named "in" and "out", so the files themselves go through
// the platform layer.
struct MemorySystem {
  mspack_system sys;  // first, so a pointer to it is a pointer to us
  std::string_view input;
  std::string* output;
};

struct MemoryFile {
  MemorySystem* owner;
  bool isInput;
  size_t position;
};

mspack_file* Open(mspack_system* self, const char* name, int mode) {
  auto* owner = reinterpret_cast<MemorySystem*>(self);
  const bool input = std::strcmp(name, "in") == 0;
  if (input != (mode == MSPACK_SYS_OPEN_READ)) return nullptr;
  if (!input && std::strcmp(name, "out") != 0) return nullptr;
  auto* file = static_cast<MemoryFile*>(std::malloc(sizeof(MemoryFile)));
  if (!file) return nullptr;
  *file = {owner, input, 0};
  return reinterpret_cast<mspack_file*>(file);
}

void Close(mspack_file* file) { std::free(file); }

int Read(mspack_file* f, void* buffer, int bytes) {
  auto* file = reinterpret_cast<MemoryFile*>(f);
  if (!file->isInput || bytes < 0) return -1;
  const std::string_view in = file->owner->input;
  const size_t n = std::min(static_cast<size_t>(bytes), in.size() - file->position);
  std::memcpy(buffer, in.data() + file->position, n);
  file->position += n;
  return static_cast<int>(n);
}

int Write(mspack_file* f, void* buffer, int bytes) {
  auto* file = reinterpret_cast<MemoryFile*>(f);
  if (file->isInput || bytes < 0) return -1;
  file->owner->output->append(static_cast<const char*>(buffer), static_cast<size_t>(bytes));
  return bytes;
}

int Seek(mspack_file* f, off_t offset, int mode) {
  auto* file = reinterpret_cast<MemoryFile*>(f);
  const auto size = static_cast<off_t>(file->isInput ? file->owner->input.size()
                                                     : file->owner->output->size());
  off_t target = offset;
  if (mode == MSPACK_SYS_SEEK_CUR) target += static_cast<off_t>(file->position);
  if (mode == MSPACK_SYS_SEEK_END) target += size;
  if (target < 0 || target > size) return -1;
  file->position = static_cast<size_t>(target);
  return 0;
}

off_t Tell(mspack_file* f) { return static_cast<off_t>(reinterpret_cast<MemoryFile*>(f)->position); }

void Message(mspack_file*, const char*, ...) {}
void* Alloc(mspack_system*, size_t bytes) { return std::malloc(bytes); }
void Free(void* p) { std::free(p); }
void Copy(void* src, void* dest, size_t bytes) { std::memmove(dest, src, bytes); }

struct DecompressorDeleter {
  void operator()(msszdd_decompressor* d) const { mspack_destroy_szdd_decompressor(d); }
};

}  // namespace

DWORD ExpandSzdd(std::string_view compressed, std::string* plain) {
  plain->clear();
  int selftest = 0;
  MSPACK_SYS_SELFTEST(selftest);
  if (selftest != MSPACK_ERR_OK) return plat::ERROR_NOT_SUPPORTED;

  std::string output;
  MemorySystem memory{{Open, Close, Read, Write, Seek, Tell, Message, Alloc, Free, Copy, nullptr},
                      compressed, &output};
  std::unique_ptr<msszdd_decompressor, DecompressorDeleter> decompressor(
      mspack_create_szdd_decompressor(&memory.sys));
  if (!decompressor) return plat::ERROR_NOT_ENOUGH_MEMORY;
  msszddd_header* header = decompressor->open(decompressor.get(), "in");
  if (!header) return plat::ERROR_INVALID_DATA;
  const off_t announced = header->length;
  const int err = decompressor->extract(decompressor.get(), header, "out");
  decompressor->close(decompressor.get(), header);
  // The data itself carries no end mark: a short file shows only in its length.
  if (err != MSPACK_ERR_OK || static_cast<off_t>(output.size()) != announced) {
    return plat::ERROR_INVALID_DATA;
  }
  *plain = std::move(output);
  return plat::ERROR_SUCCESS;
}

}  // namespace setup
