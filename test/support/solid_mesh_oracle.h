#pragma once

// An inside test of triangle meshes that owes nothing to the library's
// collision code (the generalized winding number), and the bodies of an arm
// placed at a state through the library's robot model: the meshes of the
// links its group moves and meshes attached to them, each unpadded and padded
// as the scene pads it, with FCL trees of both for box tests.

#include <array>
#include <memory>
#include <string>
#include <vector>

#include <fcl/fcl.h>
#include <octomap/OcTree.h>
#include <Eigen/Geometry>

#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"

namespace shapes {
class Mesh;
}

namespace bramlock_test {

// A triangle mesh in its own frame.
struct LocalMesh {
  std::vector<Eigen::Vector3d> vertices;
  std::vector<std::array<unsigned int, 3>> triangles;
  Eigen::AlignedBox3d bounds;
};

LocalMesh localMesh(const shapes::Mesh& mesh);

// The generalized winding number of the mesh about the point: the solid
// angles of its triangles (Van Oosterom and Strackee) summed, over 4 pi. It is
// 1 inside a closed mesh whose triangles face outwards (-1 facing inwards) and
// 0 outside; near an open edge it drifts towards 0.5.
double windingNumber(const LocalMesh& mesh, const Eigen::Vector3d& point);

// The published meshes have a few open edges, so only a winding number of
// magnitude above 0.7 counts as inside and below 0.3 as outside; between
// them the side is left undecided and a test skips the point.
constexpr double kInsideWinding = 0.7;
constexpr double kOutsideWinding = 0.3;

// An occupied leaf of an octree: its centre and side.
struct Voxel {
  Eigen::Vector3d centre;
  double side;
};

std::vector<Voxel> occupiedVoxels(const octomap::OcTree& tree);

// A link mesh or an attached mesh, with its padded copy as the scene's world
// check holds it, at the pose of the last placed state.
struct ArmBody {
  std::string name;
  const moveit::core::LinkModel* link = nullptr;
  Eigen::Isometry3d offset = Eigen::Isometry3d::Identity();  // in the link's frame
  LocalMesh mesh;
  LocalMesh padded;
  std::shared_ptr<fcl::CollisionGeometryd> tree;
  std::shared_ptr<fcl::CollisionGeometryd> padded_tree;
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
};

class SolidArmOracle {
 public:
  // The meshes of the links the group moves, which are those the scene's
  // world check tests (the base stands outside it), each padded by `padding`
  // as the scene pads them for that check. Joint values are in the group's order.
  SolidArmOracle(std::shared_ptr<const moveit::core::RobotModel> model, const std::string& group, double padding);

  // A mesh resource fixed to a link at the pose, unpadded (as attached with padding 0).
  void attachMesh(const std::string& name, const std::string& link, const Eigen::Isometry3d& pose,
                  const std::string& resource);
  void detachAll();

  void place(const std::vector<double>& joints);
  const std::vector<ArmBody>& bodies() const { return bodies_; }
  // Vertices of every body's unpadded mesh at the placed state.
  std::vector<Eigen::Vector3d> placedVertices() const;

  // The body's winding number about a world point (0 outside its mesh's bounds).
  static double winding(const ArmBody& body, const Eigen::Vector3d& point, bool padded = false);
  // Whether the voxel, grown by `margin` on each side, touches the body's triangles.
  static bool touches(const ArmBody& body, const Voxel& voxel, bool padded, double margin = 0.0);

  // The largest magnitude of an unpadded body's winding number about the
  // point, and the body it belongs to (null when no body's bounds hold it).
  double deepestWinding(const Eigen::Vector3d& point, const ArmBody** body = nullptr) const;
  // Whether some voxel centre has a winding number above `threshold` in an unpadded body.
  bool someCentreInside(const std::vector<Voxel>& voxels, double threshold) const;
  // The voxel touches no triangle of any body, unpadded or padded (grown by
  // 0.2 mm, so that rounding cannot decide it), and its centre lies outside
  // every body and every padded copy.
  bool clearOfEveryBody(const Voxel& voxel) const;

 private:
  void addBody(ArmBody body, double padding, const std::shared_ptr<const shapes::Mesh>& shape);

  std::shared_ptr<const moveit::core::RobotModel> model_;
  const moveit::core::JointModelGroup* group_;
  std::unique_ptr<moveit::core::RobotState> state_;
  std::vector<ArmBody> bodies_;
  size_t link_body_count_ = 0;
};

}  // namespace bramlock_test
