#include "bramlock_arm_planning_core/collision_detection_fcl/collision_common.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>

#include <fcl/geometry/octree/octree.h>
#include <fcl/narrowphase/collision.h>
#include <fcl/narrowphase/distance.h>

#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "octree_prefilter.h"
#include "pair_verdicts.h"
#include "query_setup.h"
#include "solid_enclosure.h"

namespace collision_detection {

using bramlock::internal::groupLinks;
using bramlock::internal::insideOneAnother;
using bramlock::internal::LinkModelSet;
using bramlock::internal::octreeMeshCollision;
using bramlock::internal::provablyClearOfOctree;

void CollisionData::enableGroup(const std::shared_ptr<const moveit::core::RobotModel>& robot_model) {
  active_links = groupLinks(robot_model, req->group_name);
}

namespace {

const CollisionGeometryData& ownerOf(const fcl::CollisionObjectd* object) {
  return *static_cast<const CollisionGeometryData*>(object->collisionGeometry()->getUserData());
}

bool isActive(const CollisionGeometryData& body, const LinkModelSet& active_links) {
  const moveit::core::LinkModel* link = body.getLink();
  return link && active_links.count(link) > 0;
}

// A pair never looked at: one body with itself, or neither body on an active link.
bool isSkipped(const CollisionGeometryData& a, const CollisionGeometryData& b, const LinkModelSet* active_links) {
  if (a.sameObject(b)) return true;
  return active_links && !isActive(a, *active_links) && !isActive(b, *active_links);
}

// The matrix's recent answers for pairs of names, kept per thread: the broad
// phase hands over the same pairs query after query, and a lookup by name
// walks two maps of strings. The names' addresses pick a set of slots and the
// slot within it; a slot's answer is used only under the same matrix
// revision and for the same two texts, as a freed owner's name may be
// followed by another at its address.
class MatrixAnswers {
 public:
  AllowedCollision::Type find(const AllowedCollisionMatrix& acm, const std::string& name1, const std::string& name2) {
    const size_t set_index = setIndex(&name1, &name2);
    Slot* const set = &slots[set_index * kWays];
    for (size_t way = 0; way < kWays; ++way) {
      Slot& slot = set[way];
      if (slot.address1 != &name1 || slot.address2 != &name2) continue;
      if (slot.revision == acm.revision() && slot.name1 == name1 && slot.name2 == name2) return slot.type;
      return slot.fill(acm, name1, name2);
    }
    std::uint8_t& victim = next_victim[set_index];
    victim = static_cast<std::uint8_t>((victim + 1) % kWays);
    return set[victim].fill(acm, name1, name2);
  }

 private:
  struct Slot {
    AllowedCollision::Type fill(const AllowedCollisionMatrix& acm, const std::string& first,
                                const std::string& second) {
      type = AllowedCollision::NEVER;
      acm.getAllowedCollision(first, second, type);
      revision = acm.revision();
      address1 = &first;
      address2 = &second;
      name1 = first;
      name2 = second;
      return type;
    }

    std::uint64_t revision = 0;  // no matrix has revision 0
    const std::string* address1 = nullptr;
    const std::string* address2 = nullptr;
    std::string name1;
    std::string name2;
    AllowedCollision::Type type = AllowedCollision::NEVER;
  };

  // Room for every pair of a few hundred owners seen query after query.
  static constexpr size_t kSetBits = 7;
  static constexpr size_t kWays = 4;

  static size_t setIndex(const void* name1, const void* name2) {
    const std::uint64_t key = reinterpret_cast<std::uintptr_t>(name1) * 0x9E3779B97F4A7C15ull ^
                              reinterpret_cast<std::uintptr_t>(name2) * 0xC2B2AE3D27D4EB4Full;
    return static_cast<size_t>(key >> (64 - kSetBits));
  }

  std::array<Slot, kWays << kSetBits> slots;
  std::array<std::uint8_t, size_t{1} << kSetBits> next_victim{};
};

AllowedCollision::Type matrixEntry(const CollisionGeometryData& a, const CollisionGeometryData& b,
                                   const AllowedCollisionMatrix* acm) {
  if (!acm) return AllowedCollision::NEVER;
  thread_local MatrixAnswers answers;
  return answers.find(*acm, a.getID(), b.getID());
}

// The link and the attached body of a link/attached-body pair, in that order.
std::pair<const CollisionGeometryData*, const CollisionGeometryData*> linkAndBody(const CollisionGeometryData& a,
                                                                                  const CollisionGeometryData& b) {
  if (a.owner_type == LINK && b.owner_type == ATTACHED_BODY) return {&a, &b};
  if (a.owner_type == ATTACHED_BODY && b.owner_type == LINK) return {&b, &a};
  return {nullptr, nullptr};
}

// The link/attached-body pair whose body lists the link among its touch links, else {null, null}.
std::pair<const CollisionGeometryData*, const CollisionGeometryData*> touchingPair(const CollisionGeometryData& a,
                                                                                   const CollisionGeometryData& b) {
  const auto pair = linkAndBody(a, b);
  if (pair.first && pair.second->attachedBody()->getTouchLinks().count(pair.first->getID()) > 0) return pair;
  return {nullptr, nullptr};
}

bool onSameLink(const CollisionGeometryData& a, const CollisionGeometryData& b) {
  return a.owner_type == ATTACHED_BODY && b.owner_type == ATTACHED_BODY &&
         a.attachedBody()->getAttachedLink() == b.attachedBody()->getAttachedLink();
}

// A conditional pair whose decider exists is not tested: nothing in the
// narrow phase produces the contacts a decider would judge.
bool hasDecider(const CollisionGeometryData& a, const CollisionGeometryData& b, const CollisionData& cdata) {
  ContactDeciderFn decider;
  const bool found = cdata.acm->getAllowedCollision(a.getID(), b.getID(), decider);
  if (cdata.req->verbose) {
    std::printf("[collision_common]'%s' and '%s' is conditionally allowed\n", a.getID().c_str(), b.getID().c_str());
  }
  return found && decider;
}

bool stopTest(CollisionData& cdata) {
  const CollisionRequest& req = *cdata.req;
  const CollisionResult& res = *cdata.res;
  if (res.collision && (!req.want_contacts || res.contact_count >= req.max_contacts) && !req.compute_cost) {
    cdata.done = true;
  }
  return cdata.done;
}

// With `solids`, a closed mesh of either object counts with its inside.
bool narrowPhaseCollides(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, const CollisionRequest& req,
                         bool solids) {
  // Costs would also come from the unoccupied parts of an octree the shortcuts skip.
  if (!req.compute_cost) {
    if (const std::optional<bool> answer = octreeMeshCollision(*o1, *o2, solids)) return *answer;
    if (provablyClearOfOctree(*o1, *o2)) return false;
  }
  const fcl::CollisionRequestd request(1, false, req.max_cost_sources, req.compute_cost, true, fcl::GST_LIBCCD, 1e-6);
  fcl::CollisionResultd result;
  if (fcl::collide(o1, o2, request, result) > 0) return true;
  return solids && insideOneAnother(*o1, *o2);
}

// Where the robot meets the world its closed meshes are solids; the self
// check and world-against-world checks keep FCL's surfaces.
bool isRobotAgainstWorld(const fcl::CollisionObjectd* o1, const fcl::CollisionObjectd* o2) {
  return (ownerOf(o1).owner_type == WORLD_OBJECT) != (ownerOf(o2).owner_type == WORLD_OBJECT);
}

bool isEmptyOctree(const fcl::CollisionObjectd* object) {
  const fcl::CollisionGeometryd* geometry = object->collisionGeometry().get();
  return geometry->getNodeType() == fcl::GEOM_OCTREE && !static_cast<const fcl::OcTreed*>(geometry)->getRoot();
}

std::pair<std::string, std::string> pairKey(const std::string& a, const std::string& b) {
  return a < b ? std::make_pair(a, b) : std::make_pair(b, a);
}

// The distance below which a pair's record counts, or nothing when the pair
// has all the records its request type keeps.
bool pairThreshold(const DistanceRequest& req, const DistanceResult& res,
                   const std::pair<std::string, std::string>& key, double& threshold) {
  threshold = req.distance_threshold;
  const auto entry = res.distances.find(key);
  if (entry == res.distances.end()) return true;
  switch (req.type) {
    case LIMITED_PER_PAIR:
      return entry->second.size() < req.max_contacts_per_body;
    case GLOBAL_MINIMUM:
      threshold = res.minimum_distance.distance;
      return true;
    case ONE_PER_PAIR:
      threshold = entry->second.front().distance;
      return true;
    default:
      return true;
  }
}

// Penetrating pair: distance = minus the deepest contact's depth.
void applySignedDistance(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, DistanceResultsData& record) {
  record.nearest_points[0].setZero();
  record.nearest_points[1].setZero();
  record.normal.setZero();
  const fcl::CollisionRequestd request(200, true, 1, false, true, fcl::GST_LIBCCD, 1e-6);
  fcl::CollisionResultd result;
  if (fcl::collide(o1, o2, request, result) == 0) return;
  std::vector<fcl::Contactd> contacts;
  result.getContacts(contacts);
  size_t deepest = 0;
  double depth = 0.0;
  for (size_t i = 0; i < contacts.size(); ++i) {
    if (contacts[i].penetration_depth > depth) {
      depth = contacts[i].penetration_depth;
      deepest = i;
    }
  }
  record.distance = -contacts[deepest].penetration_depth;
  record.nearest_points[0] = record.nearest_points[1] = contacts[deepest].pos;
  record.normal = contacts[deepest].normal;
}

void storePairRecord(const DistanceRequest& req, DistanceResult& res, const std::pair<std::string, std::string>& key,
                     const DistanceResultsData& record) {
  if (req.type == GLOBAL_MINIMUM) return;
  const auto entry = res.distances.find(key);
  if (entry == res.distances.end()) {
    // The reservation is only a hint; a huge limit must not become a huge allocation.
    constexpr size_t kMaxReserved = 64;
    std::vector<DistanceResultsData> records;
    records.reserve(req.type == ONE_PER_PAIR ? 1 : std::min(req.max_contacts_per_body, kMaxReserved));
    records.push_back(record);
    res.distances.emplace(key, std::move(records));
  } else if (req.type == ONE_PER_PAIR) {
    if (record.distance < entry->second.front().distance) entry->second.front() = record;
  } else {
    entry->second.push_back(record);
  }
}

// The broad phase skips pairs whose boxes lie at least this far apart. Only
// pairs closer than the threshold are recorded, and a global minimum ignores
// pairs farther than the smallest positive distance found so far.
void lowerBroadPhaseBound(const DistanceRequest& req, const DistanceResult& res, double& min_dist) {
  if (req.distance_threshold > 0.0) min_dist = std::min(min_dist, req.distance_threshold);
  const double found = res.minimum_distance.distance;
  if (req.type == GLOBAL_MINIMUM && found > 0.0) min_dist = std::min(min_dist, found);
}

}  // namespace

bool collisionCallback(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data) {
  CollisionData& cdata = *static_cast<CollisionData*>(data);
  if (cdata.done) return true;
  return bramlock::internal::actOnVerdict(bramlock::internal::pairVerdict(ownerOf(o1), ownerOf(o2), cdata), o1, o2,
                                          cdata);
}

bool distanceCallback(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data, double& min_dist) {
  DistanceData& ddata = *static_cast<DistanceData*>(data);
  const DistanceRequest& req = *ddata.req;
  DistanceResult& res = *ddata.res;
  const CollisionGeometryData& a = ownerOf(o1);
  const CollisionGeometryData& b = ownerOf(o2);
  lowerBroadPhaseBound(req, res, min_dist);
  if (isSkipped(a, b, req.active_links)) return false;
  const bool allowed = matrixEntry(a, b, req.acm) == AllowedCollision::ALWAYS;
  if (allowed && req.verbose) {
    std::printf("collision_detection.fcl----Collision between '%s' and '%s' is always allowed. ", a.getID().c_str(),
                b.getID().c_str());
  }
  const auto touching = touchingPair(a, b);
  if (touching.first) {
    if (req.verbose) {
      std::printf("Robot link '%s' is allowed to touch attached object '%s'. ", touching.first->getID().c_str(),
                  touching.second->getID().c_str());
    }
    return false;
  }
  if (allowed) return false;
  if (req.verbose) {
    std::printf("collision_detection.fcl----Actually checking collisions between %s and %s", a.getID().c_str(),
                b.getID().c_str());
  }

  const auto key = pairKey(a.getID(), b.getID());
  double threshold = 0.0;
  if (!pairThreshold(req, res, key, threshold)) return ddata.done;
  // FCL 0.7 crashes measuring against an octree without nodes.
  if (isEmptyOctree(o1) || isEmptyOctree(o2)) return false;

  const fcl::DistanceRequestd request(req.nearest_points, false, 0.0, 0.0, 1e-6, fcl::GST_LIBCCD);
  fcl::DistanceResultd result;
  result.min_distance = threshold;
  const double d = fcl::distance(o1, o2, request, result);
  if (!(d < threshold)) return ddata.done;

  DistanceResultsData record;
  record.distance = result.min_distance;
  record.nearest_points[0] = result.nearest_points[0];
  record.nearest_points[1] = result.nearest_points[1];
  record.link_names[0] = a.getID();
  record.link_names[1] = b.getID();
  record.body_types[0] = a.owner_type;
  record.body_types[1] = b.owner_type;
  if (req.nearest_points) {
    const Eigen::Vector3d difference = record.nearest_points[1] - record.nearest_points[0];
    record.normal = difference.squaredNorm() > 0.0 ? Eigen::Vector3d(difference.normalized()) : difference;
  }
  if (d <= 0.0 && req.signed_distance) applySignedDistance(o1, o2, record);

  if (record.distance < res.minimum_distance.distance) res.minimum_distance = record;
  if (record.distance <= 0.0) res.collision = true;
  storePairRecord(req, res, key, record);
  lowerBroadPhaseBound(req, res, min_dist);
  if (!req.signed_distance && res.collision) ddata.done = true;
  return ddata.done;
}

}  // namespace collision_detection

namespace bramlock {
namespace internal {

using namespace collision_detection;

PairVerdict pairVerdict(const CollisionGeometryData& a, const CollisionGeometryData& b, const CollisionData& cdata) {
  if (isSkipped(a, b, cdata.active_links)) return PairVerdict::kSkipped;
  const AllowedCollision::Type entry = matrixEntry(a, b, cdata.acm);
  const bool decided_elsewhere = entry == AllowedCollision::CONDITIONAL && hasDecider(a, b, cdata);
  if (touchingPair(a, b).first || onSameLink(a, b)) return PairVerdict::kSkipped;
  if (entry == AllowedCollision::ALWAYS) return PairVerdict::kSkipped;
  return decided_elsewhere ? PairVerdict::kDecidedElsewhere : PairVerdict::kTested;
}

bool actOnVerdict(PairVerdict verdict, fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, CollisionData& cdata) {
  if (verdict == PairVerdict::kSkipped) return false;
  if (verdict == PairVerdict::kTested && narrowPhaseCollides(o1, o2, *cdata.req, isRobotAgainstWorld(o1, o2))) {
    cdata.res->collision = true;
  }
  return stopTest(cdata);
}

}  // namespace internal
}  // namespace bramlock
