#pragma once

// Counts the heap allocations (malloc, calloc, realloc, and operator new
// through them) made on this thread while a counter is alive. The allocation
// functions are replaced in allocation_counter.cpp, except under
// AddressSanitizer, which owns them: there available() is false.

namespace toppra_test {

class AllocationCounter {
 public:
  AllocationCounter();
  ~AllocationCounter();
  AllocationCounter(const AllocationCounter&) = delete;
  AllocationCounter& operator=(const AllocationCounter&) = delete;

  static bool available();
  long count() const;
};

}  // namespace toppra_test
