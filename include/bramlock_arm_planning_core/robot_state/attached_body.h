#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include <Eigen/Geometry>
#include <Eigen/StdVector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"

namespace shapes {
class Shape;
}

namespace moveit {
namespace core {

// Collision shapes rigidly fixed to one link of a robot state: a gripped
// object, an end-effector mesh, a box. Scale and padding are applied to the
// shapes themselves when they are set, so whoever reads the shapes sees the
// final geometry; shapes shared with another owner are cloned first. A mesh
// is scaled in its own frame (about its origin), as a mesh file's scale is
// applied where it is loaded, and the padding, in metres, goes around the
// scaled shapes whichever was set first.
class BRAMLOCK_EXPORT AttachedBody {
 public:
  using ShapeList = std::vector<std::shared_ptr<const shapes::Shape>>;

  // One pose (in the link frame) per shape: a size mismatch, a non-finite
  // pose or a shape the checkers cannot see (a size below 0, a size, vertex
  // coordinate or plane offset not finite or beyond 1e6 m, a mesh without
  // triangles or with a triangle naming a vertex the mesh does not have)
  // throws std::invalid_argument. Null shapes are left out together with
  // their poses. A null link is accepted here; attaching such a body fails.
  AttachedBody(const LinkModel* link, const std::string& id, const ShapeList& shapes,
               const vector_Isometry3d& attach_trans, const std::set<std::string>& touch_links);

  const LinkModel* getAttachedLink() const { return link_; }
  // Empty when the body has no link.
  const std::string& getAttachedLinkName() const;
  const std::string& getName() const { return id_; }
  const ShapeList& getShapes() const { return shapes_; }
  // The shapes scaled but not padded, one per shape: what the checks against
  // the world count as the body's inside.
  const ShapeList& getUnpaddedShapes() const { return unpadded_shapes_.empty() ? shapes_ : unpadded_shapes_; }
  const vector_Isometry3d& getFixedTransforms() const { return attach_trans_; }
  const std::set<std::string>& getTouchLinks() const { return touch_links_; }
  // One per shape, in the model frame; current after the owning state's update.
  const vector_Isometry3d& getGlobalCollisionBodyTransforms() const { return global_collision_body_transforms_; }
  double getScale() const { return scale_; }
  double getPadding() const { return padding_; }

  // A scale below 1e-5, above 1e6 or not finite prints a warning and becomes 1.0.
  void setScale(double scale);
  // A padding below 0, above 1e6 or not finite prints a warning and becomes 0.0.
  void setPadding(double padding);

  // Global transform i := parent_link_global_transform * fixed transform i.
  void computeTransform(const Eigen::Isometry3d& parent_link_global_transform);

 private:
  // Applies a change to every shape, cloning those that another owner still holds.
  template <typename Change>
  void changeShapes(const Change& change);

  const LinkModel* link_;
  std::string id_;
  ShapeList shapes_;
  // Empty until a padding changes the shapes.
  ShapeList unpadded_shapes_;
  vector_Isometry3d attach_trans_;
  std::set<std::string> touch_links_;
  vector_Isometry3d global_collision_body_transforms_;
  double scale_ = 1.0;
  double padding_ = 0.0;
};

}  // namespace core
}  // namespace moveit
