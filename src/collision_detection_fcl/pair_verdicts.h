#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <fcl/narrowphase/collision_object.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_common.h"

namespace bramlock {
namespace internal {

// What the collision callback does with a pair: leaves it out, leaves it to
// the matrix's decider (no narrow phase), or tests it.
enum class PairVerdict : std::uint8_t { kSkipped, kDecidedElsewhere, kTested };

// The callback's verdict on a pair of owners; prints the lines a verbose
// request asks for, as the callback does.
PairVerdict pairVerdict(const collision_detection::CollisionGeometryData& a,
                        const collision_detection::CollisionGeometryData& b,
                        const collision_detection::CollisionData& cdata);

// What the callback does after its verdict: the narrow phase for a tested
// pair, then whether the query stops.
bool actOnVerdict(PairVerdict verdict, fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2,
                  collision_detection::CollisionData& cdata);

// A number no checker of the process has drawn before: checkers draw one
// whenever the owners of their objects change, so that verdicts remembered
// for one set of owners are never used for another at the same addresses.
std::uint64_t freshOwnersRevision();

// The objects of one query side and what their verdicts depend on besides
// the matrix and group: the checker's owners revision, which fixes the
// owners of the first `fixed_owners` objects (a robot's links, all of the
// world's objects), and the owner record of each object after those.
struct QuerySide {
  std::uint64_t owners_revision;
  const std::vector<fcl::CollisionObjectd*>* objects;
  size_t fixed_owners;
};

// The verdict of every ordered pair (row object, column object) of two
// query sides, as the callback would give it with o1 the row object.
class PairVerdicts {
 public:
  PairVerdicts(const QuerySide& rows, const QuerySide& columns, const collision_detection::CollisionData& cdata);

  PairVerdict of(size_t row, size_t column) const { return verdicts_[row * columns_ + column]; }
  // When both sides are one list: the pairs (first, second) of different
  // objects, first < second, tested in one order or the other.
  const std::vector<std::pair<std::uint32_t, std::uint32_t>>& testedPairs() const { return tested_pairs_; }

 private:
  size_t columns_;
  std::vector<PairVerdict> verdicts_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> tested_pairs_;
};

// The verdict tables of a checker's recent queries. A table is used again
// for the same owners revisions, owner records, matrix revision and group;
// attached bodies are also compared by the link and touch links they have,
// as a body at a freed body's address may differ in those. Any thread may ask.
class PairVerdictCache {
 public:
  std::shared_ptr<const PairVerdicts> verdicts(const QuerySide& rows, const QuerySide& columns,
                                               const collision_detection::CollisionData& cdata);
  void clear();

 private:
  struct AttachedTraits {
    const void* link;
    std::set<std::string> touch_links;
  };
  struct Key {
    std::uint64_t rows_revision = 0;
    std::uint64_t columns_revision = 0;
    std::uint64_t matrix_revision = 0;
    const void* active_links = nullptr;
    size_t rows = 0;
    size_t columns = 0;
    std::vector<const void*> owners;  // of the objects their revision does not fix
    std::vector<AttachedTraits> attached;
  };
  struct Entry {
    Key key;
    std::shared_ptr<const PairVerdicts> verdicts;
  };

  static Key keyOf(const QuerySide& rows, const QuerySide& columns, const collision_detection::CollisionData& cdata);
  static bool sameKey(const Key& kept, const QuerySide& rows, const QuerySide& columns,
                      const collision_detection::CollisionData& cdata);

  // Enough for the checkers a scene alternates between.
  static constexpr size_t kKept = 4;

  std::mutex mutex_;
  std::vector<Entry> entries_;
  size_t next_ = 0;
};

// An object's index in its query side, kept in the object's user data.
inline size_t sideIndex(const fcl::CollisionObjectd* object) {
  return reinterpret_cast<std::uintptr_t>(object->getUserData());
}
// Marks each object with its index in the list (the objects must belong to
// this query alone).
void markSideIndices(const std::vector<fcl::CollisionObjectd*>& objects);

}  // namespace internal
}  // namespace bramlock
