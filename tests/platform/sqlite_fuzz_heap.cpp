#include "tests/platform/sqlite_fuzz_heap.h"

#include <sanitizer/asan_interface.h>
#include <sqlite3.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace kv_test {
namespace {

// A block is a header and a power of two of room; the header keeps the
// block's size class and the size SQLite asked for.
struct Header {
  uint32_t size_class;
  uint32_t size;
  uint64_t padding;  // 16 bytes keep the room aligned as malloc's
};
static_assert(sizeof(Header) == 16);

constexpr uint32_t kSmallestClass = 4;  // 16 bytes
// Up to 64 MiB: a damaged cell may claim a payload of gigabytes, and
// SQLite then sizes (and clears) its list of overflow pages by the claim,
// tens of megabytes for each read of that row. Kept here, such a block is
// mapped and faulted in once instead of at every read.
constexpr uint32_t kLargestClass = 26;  // larger ones go to malloc
constexpr uint32_t kUnpooled = 0xffffffff;

// Room pointers, per class. Never destroyed: blocks SQLite frees at the
// exit stay reachable for the leak check. No lock: SQLite runs on one thread.
std::vector<void*>* const g_free = new std::vector<void*>[kLargestClass + 1];

uint32_t ClassOf(size_t size) {
  uint32_t c = kSmallestClass;
  while ((size_t{1} << c) < size) ++c;
  return c;
}

Header* HeaderOf(void* room) {
  return reinterpret_cast<Header*>(static_cast<char*>(room) - sizeof(Header));
}

// Only the first `size` bytes of the room may be touched.
void Expose(void* room, uint32_t size_class, uint32_t size) {
  ASAN_UNPOISON_MEMORY_REGION(room, size);
  ASAN_POISON_MEMORY_REGION(static_cast<char*>(room) + size, (size_t{1} << size_class) - size);
}

void* Malloc(int n) {
  if (n <= 0) return nullptr;
  const auto size = static_cast<uint32_t>(n);
  const uint32_t size_class = ClassOf(size);
  void* room = nullptr;
  if (size_class > kLargestClass) {
    char* block = static_cast<char*>(std::malloc(sizeof(Header) + size));
    if (!block) return nullptr;
    *reinterpret_cast<Header*>(block) = {kUnpooled, size, 0};
    return block + sizeof(Header);
  }
  if (!g_free[size_class].empty()) {
    room = g_free[size_class].back();
    g_free[size_class].pop_back();
  }
  if (!room) {
    char* block = static_cast<char*>(std::malloc(sizeof(Header) + (size_t{1} << size_class)));
    if (!block) return nullptr;
    room = block + sizeof(Header);
  }
  *HeaderOf(room) = {size_class, size, 0};
  Expose(room, size_class, size);
  return room;
}

void Free(void* room) {
  if (!room) return;
  Header* header = HeaderOf(room);
  if (header->size_class == kUnpooled) {
    std::free(header);
    return;
  }
  ASAN_POISON_MEMORY_REGION(room, size_t{1} << header->size_class);
  g_free[header->size_class].push_back(room);
}

int Size(void* room) {
  return room ? static_cast<int>(HeaderOf(room)->size) : 0;
}

void* Realloc(void* room, int n) {
  if (!room) return Malloc(n);
  Header* header = HeaderOf(room);
  const auto size = static_cast<uint32_t>(n);
  if (header->size_class != kUnpooled && n > 0 && ClassOf(size) <= header->size_class) {
    header->size = size;
    Expose(room, header->size_class, size);
    return room;
  }
  void* moved = Malloc(n);
  if (!moved) return nullptr;
  std::memcpy(moved, room, header->size < size ? header->size : size);
  Free(room);
  return moved;
}

// SQLite rounds its requests up itself; eight bytes keep its pointers aligned.
int Roundup(int n) {
  return (n + 7) & ~7;
}

int Init(void*) {
  return SQLITE_OK;
}

void Shutdown(void*) {}

}  // namespace

void UseSqliteFuzzHeap() {
  static const sqlite3_mem_methods methods = {Malloc,  Free, Realloc,  Size,
                                              Roundup, Init, Shutdown, nullptr};
  if (sqlite3_config(SQLITE_CONFIG_SINGLETHREAD) != SQLITE_OK ||
      sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0) != SQLITE_OK ||
      sqlite3_config(SQLITE_CONFIG_MALLOC, &methods) != SQLITE_OK)
    std::abort();
}

}  // namespace kv_test
