#include "solid_mesh_oracle.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"

namespace bramlock_test {

namespace {

// Voxels grown by this much must still be clear, so that FCL's rounding here
// and in the library cannot tell the two tests apart.
constexpr double kClearMargin = 0.0002;

std::shared_ptr<fcl::CollisionGeometryd> meshTree(const LocalMesh& mesh) {
  std::vector<fcl::Vector3d> vertices(mesh.vertices.begin(), mesh.vertices.end());
  std::vector<fcl::Triangle> triangles;
  for (const auto& t : mesh.triangles) triangles.emplace_back(t[0], t[1], t[2]);
  auto tree = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
  tree->beginModel();
  tree->addSubModel(vertices, triangles);
  tree->endModel();
  tree->computeLocalAABB();
  return tree;
}

// The winding number only where the point lies within the mesh's bounds
// (outside them it is 0 for a closed mesh, and near 0 for a nearly closed one).
double boundedWinding(const LocalMesh& mesh, const Eigen::Vector3d& local) {
  return mesh.bounds.contains(local) ? windingNumber(mesh, local) : 0.0;
}

}  // namespace

LocalMesh localMesh(const shapes::Mesh& mesh) {
  LocalMesh local;
  local.bounds.setEmpty();
  for (unsigned int i = 0; i < mesh.vertex_count; ++i) {
    local.vertices.emplace_back(mesh.vertices[3 * i], mesh.vertices[3 * i + 1], mesh.vertices[3 * i + 2]);
    local.bounds.extend(local.vertices.back());
  }
  for (unsigned int i = 0; i < mesh.triangle_count; ++i) {
    local.triangles.push_back({mesh.triangles[3 * i], mesh.triangles[3 * i + 1], mesh.triangles[3 * i + 2]});
  }
  return local;
}

double windingNumber(const LocalMesh& mesh, const Eigen::Vector3d& point) {
  // Each vertex relative to the point, with its length, once for all its triangles.
  std::vector<Eigen::Vector3d> relative(mesh.vertices.size());
  std::vector<double> length(mesh.vertices.size());
  for (size_t i = 0; i < mesh.vertices.size(); ++i) {
    relative[i] = mesh.vertices[i] - point;
    length[i] = relative[i].norm();
  }
  double total = 0.0;
  for (const auto& t : mesh.triangles) {
    const Eigen::Vector3d& a = relative[t[0]];
    const Eigen::Vector3d& b = relative[t[1]];
    const Eigen::Vector3d& c = relative[t[2]];
    const double la = length[t[0]], lb = length[t[1]], lc = length[t[2]];
    const double numerator = a.dot(b.cross(c));
    const double denominator = la * lb * lc + a.dot(b) * lc + a.dot(c) * lb + b.dot(c) * la;
    total += 2.0 * std::atan2(numerator, denominator);
  }
  return total / (4.0 * M_PI);
}

std::vector<Voxel> occupiedVoxels(const octomap::OcTree& tree) {
  std::vector<Voxel> voxels;
  for (auto leaf = tree.begin_leafs(); leaf != tree.end_leafs(); ++leaf) {
    if (!tree.isNodeOccupied(*leaf)) continue;
    const octomap::point3d centre = leaf.getCoordinate();
    voxels.push_back({Eigen::Vector3d(centre.x(), centre.y(), centre.z()), leaf.getSize()});
  }
  return voxels;
}

SolidArmOracle::SolidArmOracle(std::shared_ptr<const moveit::core::RobotModel> model, const std::string& group,
                               double padding)
    : model_(std::move(model)),
      group_(model_->getJointModelGroup(group)),
      state_(std::make_unique<moveit::core::RobotState>(model_)) {
  if (!group_) throw std::invalid_argument("no group " + group);
  for (const moveit::core::LinkModel* link : model_->getLinkModelsWithCollisionGeometry()) {
    if (!group_->getUpdatedLinkModelsSet().count(link)) continue;
    const auto& shapes = link->getShapes();
    const auto& origins = link->getCollisionOriginTransforms();
    for (size_t i = 0; i < shapes.size(); ++i) {
      auto mesh = std::dynamic_pointer_cast<const shapes::Mesh>(shapes[i]);
      if (!mesh) throw std::invalid_argument("the oracle reads link meshes only: " + link->getName());
      ArmBody body;
      body.name = link->getName();
      body.link = link;
      body.offset = origins[i];
      addBody(std::move(body), padding, mesh);
    }
  }
  link_body_count_ = bodies_.size();
}

void SolidArmOracle::addBody(ArmBody body, double padding, const std::shared_ptr<const shapes::Mesh>& shape) {
  body.mesh = localMesh(*shape);
  body.tree = meshTree(body.mesh);
  if (padding == 0.0) {
    body.padded = body.mesh;
    body.padded_tree = body.tree;
  } else {
    // As the library pads: a clone scaled and padded by geometric_shapes.
    std::unique_ptr<shapes::Mesh> padded(shape->clone());
    padded->scaleAndPadd(1.0, padding);
    body.padded = localMesh(*padded);
    body.padded_tree = meshTree(body.padded);
  }
  bodies_.push_back(std::move(body));
}

void SolidArmOracle::attachMesh(const std::string& name, const std::string& link, const Eigen::Isometry3d& pose,
                                const std::string& resource) {
  std::shared_ptr<const shapes::Mesh> mesh(shapes::createMeshFromResource(resource));
  if (!mesh) throw std::invalid_argument("cannot load " + resource);
  ArmBody body;
  body.name = name;
  body.link = model_->getLinkModel(link);
  if (!body.link) throw std::invalid_argument("no link " + link);
  body.offset = pose;
  addBody(std::move(body), 0.0, mesh);
}

void SolidArmOracle::detachAll() { bodies_.resize(link_body_count_); }

void SolidArmOracle::place(const std::vector<double>& joints) {
  state_->setJointGroupPositions(group_, joints.data());
  state_->update(true);
  for (ArmBody& body : bodies_) body.pose = state_->getGlobalLinkTransform(body.link) * body.offset;
}

std::vector<Eigen::Vector3d> SolidArmOracle::placedVertices() const {
  std::vector<Eigen::Vector3d> vertices;
  for (const ArmBody& body : bodies_) {
    for (const Eigen::Vector3d& vertex : body.mesh.vertices) vertices.push_back(body.pose * vertex);
  }
  return vertices;
}

double SolidArmOracle::winding(const ArmBody& body, const Eigen::Vector3d& point, bool padded) {
  return boundedWinding(padded ? body.padded : body.mesh, body.pose.inverse() * point);
}

bool SolidArmOracle::touches(const ArmBody& body, const Voxel& voxel, bool padded, double margin) {
  const double side = voxel.side + 2.0 * margin;
  fcl::Transform3d at = fcl::Transform3d::Identity();
  at.translation() = voxel.centre;
  fcl::CollisionObjectd box(std::make_shared<fcl::Boxd>(side, side, side), at);
  fcl::CollisionObjectd mesh(padded ? body.padded_tree : body.tree, fcl::Transform3d(body.pose.matrix()));
  fcl::CollisionRequestd request;
  fcl::CollisionResultd result;
  return fcl::collide(&box, &mesh, request, result) > 0;
}

double SolidArmOracle::deepestWinding(const Eigen::Vector3d& point, const ArmBody** holder) const {
  double deepest = 0.0;
  if (holder) *holder = nullptr;
  for (const ArmBody& body : bodies_) {
    const double magnitude = std::abs(winding(body, point));
    if (magnitude > deepest) {
      deepest = magnitude;
      if (holder) *holder = &body;
    }
  }
  return deepest;
}

bool SolidArmOracle::someCentreInside(const std::vector<Voxel>& voxels, double threshold) const {
  for (const Voxel& voxel : voxels) {
    if (deepestWinding(voxel.centre) > threshold) return true;
  }
  return false;
}

bool SolidArmOracle::clearOfEveryBody(const Voxel& voxel) const {
  for (const ArmBody& body : bodies_) {
    for (const bool padded : {false, true}) {
      if (std::abs(winding(body, voxel.centre, padded)) >= kOutsideWinding) return false;
      if (touches(body, voxel, padded, kClearMargin)) return false;
    }
  }
  return true;
}

}  // namespace bramlock_test
