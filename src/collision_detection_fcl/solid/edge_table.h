// The triangles around each edge, side by side in one sorted table, for the
// mending steps that walk a mesh edge by edge.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <numeric>
#include <vector>

namespace bramlock {
namespace internal {

using Corners = std::array<std::uint32_t, 3>;

// Each triangle's edges listed under their lower vertex and sorted by the
// upper one, so that the triangles around an edge stand side by side.
class EdgeTable {
 public:
  struct Entry {
    std::uint32_t upper;
    std::uint32_t face;
  };

  EdgeTable(const std::vector<Corners>& faces, std::size_t vertex_count) : first_(vertex_count + 1, 0) {
    for (const Corners& corners : faces) {
      for (int k = 0; k < 3; ++k) ++first_[std::min(corners[k], corners[(k + 1) % 3]) + 1];
    }
    std::partial_sum(first_.begin(), first_.end(), first_.begin());
    entries_.resize(first_.back());
    std::vector<std::uint32_t> filled(first_.begin(), first_.end() - 1);
    for (std::uint32_t face = 0; face < faces.size(); ++face) {
      const Corners& corners = faces[face];
      for (int k = 0; k < 3; ++k) {
        const std::uint32_t a = corners[k], b = corners[(k + 1) % 3];
        entries_[filled[std::min(a, b)]++] = Entry{std::max(a, b), face};
      }
    }
    const auto before = [](const Entry& a, const Entry& b) {
      return a.upper < b.upper || (a.upper == b.upper && a.face < b.face);
    };
    for (std::size_t vertex = 0; vertex + 1 < first_.size(); ++vertex) {
      std::sort(entries_.begin() + first_[vertex], entries_.begin() + first_[vertex + 1], before);
    }
  }

  // visit(lower, upper, first, last) for every edge, with the entries of its triangles.
  template <typename Visit>
  void forEachEdge(const Visit& visit) const {
    for (std::uint32_t lower = 0; lower + 1 < first_.size(); ++lower) {
      const Entry* end = entries_.data() + first_[lower + 1];
      for (const Entry* run = entries_.data() + first_[lower]; run != end;) {
        const Entry* past = run;
        while (past != end && past->upper == run->upper) ++past;
        visit(lower, run->upper, run, past);
        run = past;
      }
    }
  }

 private:
  std::vector<std::uint32_t> first_;
  std::vector<Entry> entries_;
};

// +1 where the triangle runs along its edge from `lower` to `upper`, -1 the other way.
inline int direction(const Corners& corners, std::uint32_t lower, std::uint32_t upper) {
  for (int k = 0; k < 3; ++k) {
    if (corners[k] == lower && corners[(k + 1) % 3] == upper) return 1;
  }
  return -1;
}

inline std::uint32_t thirdCorner(const Corners& corners, std::uint32_t a, std::uint32_t b) {
  for (const std::uint32_t corner : corners) {
    if (corner != a && corner != b) return corner;
  }
  return a;
}

}  // namespace internal
}  // namespace bramlock
