#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <Eigen/StdVector>

#include "bramlock_arm_planning_core/export.h"

namespace shapes {
class Shape;
}

namespace moveit {
namespace core {

class JointModel;
class LinkModel;

using vector_Isometry3d = std::vector<Eigen::Isometry3d, Eigen::aligned_allocator<Eigen::Isometry3d>>;
using LinkTransformMap = std::map<const LinkModel*, Eigen::Isometry3d, std::less<const LinkModel*>,
                                  Eigen::aligned_allocator<std::pair<const LinkModel* const, Eigen::Isometry3d>>>;

// One rigid link of the kinematic model: its place in the tree, the fixed
// transform from the parent link to its joint frame, its collision shapes and
// the box holding them, and the links rigidly attached to it.
class BRAMLOCK_EXPORT LinkModel {
 public:
  LinkModel(const std::string& name, size_t link_index);
  LinkModel(const LinkModel&) = delete;
  LinkModel& operator=(const LinkModel&) = delete;

  const std::string& getName() const { return name_; }
  size_t getLinkIndex() const { return link_index_; }

  const JointModel* getParentJointModel() const { return parent_joint_model_; }
  // Also records whether the joint is fixed.
  void setParentJointModel(const JointModel* joint);
  const LinkModel* getParentLinkModel() const { return parent_link_model_; }
  void setParentLinkModel(const LinkModel* link) { parent_link_model_ = link; }
  const std::vector<const JointModel*>& getChildJointModels() const { return child_joint_models_; }
  void addChildJointModel(const JointModel* joint) { child_joint_models_.push_back(joint); }
  bool parentJointIsFixed() const { return is_parent_joint_fixed_; }

  bool jointOriginTransformIsIdentity() const { return joint_origin_transform_is_identity_; }
  const Eigen::Isometry3d& getJointOriginTransform() const { return joint_origin_transform_; }
  void setJointOriginTransform(const Eigen::Isometry3d& transform);

  const vector_Isometry3d& getCollisionOriginTransforms() const { return collision_origin_transforms_; }
  const std::vector<int>& areCollisionOriginTransformsIdentity() const {
    return collision_origin_transform_is_identity_;
  }
  const std::vector<std::shared_ptr<const shapes::Shape>>& getShapes() const { return shapes_; }
  // Shapes and their origins in the link frame (same length); also computes
  // the extents and centre of the box holding them all.
  void setGeometry(const std::vector<std::shared_ptr<const shapes::Shape>>& shapes, const vector_Isometry3d& origins);
  const Eigen::Vector3d& getShapeExtentsAtOrigin() const { return shape_extents_; }
  const Eigen::Vector3d& getCenteredBoundingBoxOffset() const { return centered_bounding_box_offset_; }

  const LinkTransformMap& getAssociatedFixedTransforms() const { return associated_fixed_transforms_; }
  void addAssociatedFixedTransform(const LinkModel* link, const Eigen::Isometry3d& transform);

  const std::string& getVisualMeshFilename() const { return visual_mesh_filename_; }
  const Eigen::Isometry3d& getVisualMeshOrigin() const { return visual_mesh_origin_; }
  const Eigen::Vector3d& getVisualMeshScale() const { return visual_mesh_scale_; }
  void setVisualMesh(const std::string& filename, const Eigen::Isometry3d& origin, const Eigen::Vector3d& scale);

  int getFirstCollisionBodyTransformIndex() const { return first_collision_body_transform_index_; }
  void setFirstCollisionBodyTransformIndex(int index) { first_collision_body_transform_index_ = index; }

 private:
  std::string name_;
  size_t link_index_;
  const JointModel* parent_joint_model_ = nullptr;
  const LinkModel* parent_link_model_ = nullptr;
  std::vector<const JointModel*> child_joint_models_;
  bool is_parent_joint_fixed_ = false;
  bool joint_origin_transform_is_identity_ = true;
  Eigen::Isometry3d joint_origin_transform_ = Eigen::Isometry3d::Identity();
  vector_Isometry3d collision_origin_transforms_;
  std::vector<int> collision_origin_transform_is_identity_;
  LinkTransformMap associated_fixed_transforms_;
  std::vector<std::shared_ptr<const shapes::Shape>> shapes_;
  Eigen::Vector3d shape_extents_ = Eigen::Vector3d::Zero();
  Eigen::Vector3d centered_bounding_box_offset_ = Eigen::Vector3d::Zero();
  std::string visual_mesh_filename_;
  Eigen::Isometry3d visual_mesh_origin_ = Eigen::Isometry3d::Identity();
  Eigen::Vector3d visual_mesh_scale_ = Eigen::Vector3d::Ones();
  int first_collision_body_transform_index_ = -1;

 public:
  EIGEN_MAKE_ALIGNED_OPERATOR_NEW
};

}  // namespace core
}  // namespace moveit
