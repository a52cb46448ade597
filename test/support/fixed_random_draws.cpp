// Takes the place of the standard library's random device source in the
// programs that use FixedRandomDraws (a definition in the program comes before
// the one in libstdc++); without a fixed sequence it hands on to the system's.
#include "fixed_random_draws.h"

#include <dlfcn.h>

#include <random>

namespace {

thread_local std::optional<std::mt19937> fixed_sequence;

using DeviceDraw = unsigned int (*)(void*);

}  // namespace

namespace bramlock_test {

FixedRandomDraws::FixedRandomDraws(std::uint64_t seed) {
  std::seed_seq seeds{static_cast<std::uint32_t>(seed), static_cast<std::uint32_t>(seed >> 32)};
  fixed_sequence.emplace(seeds);
}

FixedRandomDraws::~FixedRandomDraws() { fixed_sequence.reset(); }

}  // namespace bramlock_test

// std::random_device::_M_getval(), the member every draw of the device goes through.
extern "C" unsigned int _ZNSt13random_device9_M_getvalEv(void* device) {
  if (fixed_sequence) return static_cast<unsigned int>((*fixed_sequence)());
  static const auto system_draw = reinterpret_cast<DeviceDraw>(dlsym(RTLD_NEXT, "_ZNSt13random_device9_M_getvalEv"));
  return system_draw(device);
}
