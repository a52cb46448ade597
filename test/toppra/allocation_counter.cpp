#include "allocation_counter.h"

#include <cstddef>

namespace {
thread_local bool counting = false;
thread_local long allocations = 0;
}  // namespace

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kReplaced = false;
#else
constexpr bool kReplaced = true;

namespace {
void countOne() {
  if (counting) ++allocations;
}
}  // namespace

// glibc's own allocator entry points, behind the replaced public names.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* memory, std::size_t size);
void __libc_free(void* memory);

void* malloc(std::size_t size) {
  countOne();
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) {
  countOne();
  return __libc_calloc(count, size);
}
void* realloc(void* memory, std::size_t size) {
  countOne();
  return __libc_realloc(memory, size);
}
void free(void* memory) { __libc_free(memory); }
}
#endif

namespace toppra_test {

AllocationCounter::AllocationCounter() {
  allocations = 0;
  counting = true;
}

AllocationCounter::~AllocationCounter() { counting = false; }

bool AllocationCounter::available() { return kReplaced; }

long AllocationCounter::count() const { return allocations; }

}  // namespace toppra_test
