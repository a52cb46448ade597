// Preloaded into a benchmark program (LD_PRELOAD), this takes the place of
// the standard library's random device source: the device then gives a fixed
// sequence (chosen by FIXED_RANDOM_SEED, default 1). Two builds of the library
// run this way plan the same paths, so their plan times compare one for one.
#include <cstdint>
#include <cstdlib>

namespace {

std::uint64_t nextDraw() {
  static std::uint64_t state = [] {
    const char* seed = std::getenv("FIXED_RANDOM_SEED");
    return seed ? std::strtoull(seed, nullptr, 10) : 1u;
  }();
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

}  // namespace

// std::random_device::_M_getval(), the member every draw of the device goes through.
extern "C" unsigned int _ZNSt13random_device9_M_getvalEv(void*) { return static_cast<unsigned int>(nextDraw()); }
