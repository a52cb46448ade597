#pragma once

#include <cassert>
#include <cmath>
#include <cstddef>
#include <iostream>
#include <random>
#include <string>
#include <vector>

// Helpers shared by the search, simplification and clearance sources of RRTConnect.
namespace rrtc_internal {

// ANSI colour numbers of the planner's console lines.
constexpr const char* kRed = "31";
constexpr const char* kYellow = "33";
constexpr const char* kCyan = "36";
constexpr const char* kRedBackground = "41";
constexpr const char* kGreenBackground = "42";

inline std::string coloured(const char* colour, const std::string& text) {
  return std::string("\033[") + colour + "m" + text + "\033[0m";
}

inline void printLine(const std::string& text) { std::cout << text << '\n' << std::flush; }

// Euclidean distance over the first count entries of both vectors.
inline double euclideanDistance(const std::vector<double>& a, const std::vector<double>& b, std::size_t count) {
  assert(a.size() >= count && b.size() >= count);
  double sum = 0.0;
  for (std::size_t i = 0; i < count; ++i) sum += (a[i] - b[i]) * (a[i] - b[i]);
  return std::sqrt(sum);
}

inline double euclideanDistance(const std::vector<double>& a, const std::vector<double>& b) {
  return euclideanDistance(a, b, a.size());
}

// L[0] = 0, L[i] = L[i-1] + |p[i] - p[i-1]|.
inline std::vector<double> cumulativeLengths(const std::vector<std::vector<double>>& path) {
  std::vector<double> lengths(path.size(), 0.0);
  for (std::size_t i = 1; i < path.size(); ++i) lengths[i] = lengths[i - 1] + euclideanDistance(path[i - 1], path[i]);
  return lengths;
}

// An engine seeded with one value read from a freshly opened system random device.
inline std::mt19937 freshEngine() {
  std::random_device device("default");
  return std::mt19937(device());
}

inline double uniformReal(std::mt19937& engine, double lo, double hi) {
  return std::uniform_real_distribution<double>(lo, hi)(engine);
}

}  // namespace rrtc_internal
