#include "pair_verdicts.h"

#include <atomic>

#include "bramlock_arm_planning_core/robot_state/attached_body.h"

namespace bramlock {
namespace internal {

using collision_detection::CollisionData;
using collision_detection::CollisionGeometryData;

namespace {

const CollisionGeometryData& ownerOf(const fcl::CollisionObjectd* object) {
  return *static_cast<const CollisionGeometryData*>(object->collisionGeometry()->getUserData());
}

std::uint64_t matrixRevision(const CollisionData& cdata) { return cdata.acm ? cdata.acm->revision() : 0; }

// Calls `visit` with the owner of each object whose owner its side's revision does not fix, rows first.
template <typename Visit>
void forEachOwner(const QuerySide& rows, const QuerySide& columns, const Visit& visit) {
  for (const QuerySide* side : {&rows, &columns}) {
    const std::vector<fcl::CollisionObjectd*>& objects = *side->objects;
    for (size_t i = side->fixed_owners; i < objects.size(); ++i) visit(ownerOf(objects[i]));
  }
}

// Shared by every checker of the process, so no two draw the same number.
std::atomic<std::uint64_t> next_owners_revision{1};

}  // namespace

std::uint64_t freshOwnersRevision() { return next_owners_revision.fetch_add(1, std::memory_order_relaxed); }

PairVerdicts::PairVerdicts(const QuerySide& rows, const QuerySide& columns, const CollisionData& cdata)
    : columns_(columns.objects->size()), verdicts_(rows.objects->size() * columns_) {
  auto verdict = verdicts_.begin();
  for (const fcl::CollisionObjectd* row : *rows.objects) {
    for (const fcl::CollisionObjectd* column : *columns.objects)
      *verdict++ = pairVerdict(ownerOf(row), ownerOf(column), cdata);
  }
  if (rows.objects != columns.objects) return;
  for (std::uint32_t first = 0; first < columns_; ++first) {
    for (std::uint32_t second = first + 1; second < columns_; ++second) {
      if (of(first, second) == PairVerdict::kTested || of(second, first) == PairVerdict::kTested) {
        tested_pairs_.emplace_back(first, second);
      }
    }
  }
}

std::shared_ptr<const PairVerdicts> PairVerdictCache::verdicts(const QuerySide& rows, const QuerySide& columns,
                                                               const CollisionData& cdata) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const Entry& entry : entries_) {
      if (sameKey(entry.key, rows, columns, cdata)) return entry.verdicts;
    }
  }
  Entry fresh{keyOf(rows, columns, cdata), std::make_shared<const PairVerdicts>(rows, columns, cdata)};
  std::shared_ptr<const PairVerdicts> made = fresh.verdicts;
  std::lock_guard<std::mutex> lock(mutex_);
  if (entries_.size() < kKept) {
    entries_.push_back(std::move(fresh));
  } else {
    entries_[next_] = std::move(fresh);
    next_ = (next_ + 1) % kKept;
  }
  return made;
}

void PairVerdictCache::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.clear();
  next_ = 0;
}

PairVerdictCache::Key PairVerdictCache::keyOf(const QuerySide& rows, const QuerySide& columns,
                                              const CollisionData& cdata) {
  Key key;
  key.rows_revision = rows.owners_revision;
  key.columns_revision = columns.owners_revision;
  key.matrix_revision = matrixRevision(cdata);
  key.active_links = cdata.active_links;
  key.rows = rows.objects->size();
  key.columns = columns.objects->size();
  forEachOwner(rows, columns, [&key](const CollisionGeometryData& owner) {
    key.owners.push_back(&owner);
    if (owner.owner_type != collision_detection::ATTACHED_BODY) return;
    const moveit::core::AttachedBody* body = owner.attachedBody();
    key.attached.push_back({body->getAttachedLink(), body->getTouchLinks()});
  });
  return key;
}

bool PairVerdictCache::sameKey(const Key& kept, const QuerySide& rows, const QuerySide& columns,
                               const CollisionData& cdata) {
  if (kept.rows_revision != rows.owners_revision || kept.columns_revision != columns.owners_revision ||
      kept.matrix_revision != matrixRevision(cdata) || kept.active_links != cdata.active_links ||
      kept.rows != rows.objects->size() || kept.columns != columns.objects->size()) {
    return false;
  }
  size_t owner = 0;
  size_t attached = 0;
  bool same = true;
  forEachOwner(rows, columns, [&](const CollisionGeometryData& record) {
    if (!same) return;
    same = kept.owners[owner++] == &record;
    if (!same || record.owner_type != collision_detection::ATTACHED_BODY) return;
    const moveit::core::AttachedBody* body = record.attachedBody();
    const AttachedTraits& traits = kept.attached[attached++];
    same = traits.link == body->getAttachedLink() && traits.touch_links == body->getTouchLinks();
  });
  return same;
}

void markSideIndices(const std::vector<fcl::CollisionObjectd*>& objects) {
  for (size_t i = 0; i < objects.size(); ++i) objects[i]->setUserData(reinterpret_cast<void*>(std::uintptr_t{i}));
}

}  // namespace internal
}  // namespace bramlock
