#include "bramlock_arm_planning_core/robot_model/link_model.h"

#include <limits>

#include <geometric_shapes/shape_operations.h>
#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/robot_model/aabb.h"
#include "bramlock_arm_planning_core/robot_model/check_isometry.h"
#include "bramlock_arm_planning_core/robot_model/joint_model.h"

namespace moveit {
namespace core {
namespace {

bool isIdentity(const Eigen::Isometry3d& transform) {
  return transform.linear().isIdentity(1e-12) &&
         transform.translation().norm() < std::numeric_limits<double>::epsilon();
}

void extendWithShape(AABB& box, const shapes::Shape& shape, const Eigen::Isometry3d& origin) {
  const auto* mesh = dynamic_cast<const shapes::Mesh*>(&shape);
  if (!mesh) {
    box.extendWithTransformedBox(origin, shapes::computeShapeExtents(&shape));
    return;
  }
  for (unsigned int i = 0; i < mesh->vertex_count; ++i) {
    box.extend(Eigen::Vector3d(origin * Eigen::Map<const Eigen::Vector3d>(mesh->vertices + 3 * i)));
  }
}

}  // namespace

LinkModel::LinkModel(const std::string& name, size_t link_index) : name_(name), link_index_(link_index) {}

void LinkModel::setParentJointModel(const JointModel* joint) {
  parent_joint_model_ = joint;
  is_parent_joint_fixed_ = joint->getType() == JointModel::FIXED;
}

void LinkModel::setJointOriginTransform(const Eigen::Isometry3d& transform) {
  BRAMLOCK_ASSERT_ISOMETRY(transform);
  joint_origin_transform_ = transform;
  joint_origin_transform_is_identity_ = isIdentity(transform);
}

void LinkModel::setGeometry(const std::vector<std::shared_ptr<const shapes::Shape>>& shapes,
                            const vector_Isometry3d& origins) {
  shapes_ = shapes;
  collision_origin_transforms_ = origins;
  collision_origin_transform_is_identity_.resize(origins.size());
  AABB box;
  for (size_t i = 0; i < shapes.size(); ++i) {
    BRAMLOCK_ASSERT_ISOMETRY(origins[i]);
    collision_origin_transform_is_identity_[i] = isIdentity(origins[i]) ? 1 : 0;
    extendWithShape(box, *shapes[i], origins[i]);
  }
  centered_bounding_box_offset_ = shapes.empty() ? Eigen::Vector3d::Zero() : Eigen::Vector3d(box.center());
  shape_extents_ = shapes.empty() ? Eigen::Vector3d::Zero() : Eigen::Vector3d(box.sizes());
}

void LinkModel::addAssociatedFixedTransform(const LinkModel* link, const Eigen::Isometry3d& transform) {
  BRAMLOCK_ASSERT_ISOMETRY(transform);
  associated_fixed_transforms_[link] = transform;
}

void LinkModel::setVisualMesh(const std::string& filename, const Eigen::Isometry3d& origin,
                              const Eigen::Vector3d& scale) {
  visual_mesh_filename_ = filename;
  visual_mesh_origin_ = origin;
  visual_mesh_scale_ = scale;
}

}  // namespace core
}  // namespace moveit
