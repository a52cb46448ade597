#include "bramlock_arm_planning_core/robot_state/attached_body.h"

#include <cmath>
#include <cstdio>
#include <stdexcept>

#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "collision_detection/shape_extent.h"
#include "rigid_transform_product.h"

namespace moveit {
namespace core {
namespace {

constexpr double kMinScale = 1e-5;
// Beyond these a shape's size may overflow; no real attachment comes near them.
constexpr double kMaxScale = 1e6;
constexpr double kMaxPadding = 1e6;

// Scales the shape in its own frame, as a mesh file's scale is applied when
// it is loaded: a mesh drawn away from its origin (a tool in millimetres
// standing on its flange) stays where it stands, which Shape::scale, scaling
// a mesh about the mean of its vertices, would move. Primitives are centred
// on their origin, so their own scaling is the same.
void scaleInOwnFrame(shapes::Shape& shape, double scale) {
  if (shape.type != shapes::MESH) {
    shape.scale(scale);
    return;
  }
  auto& mesh = static_cast<shapes::Mesh&>(shape);
  // A uniform positive scale keeps the normals.
  for (unsigned int i = 0; i < 3 * mesh.vertex_count; ++i) mesh.vertices[i] *= scale;
}

}  // namespace

AttachedBody::AttachedBody(const LinkModel* link, const std::string& id, const ShapeList& shapes,
                           const vector_Isometry3d& attach_trans, const std::set<std::string>& touch_links)
    : link_(link), id_(id), touch_links_(touch_links) {
  if (shapes.size() != attach_trans.size()) {
    throw std::invalid_argument("AttachedBody '" + id + "': " + std::to_string(shapes.size()) + " shapes but " +
                                std::to_string(attach_trans.size()) + " poses");
  }
  for (size_t i = 0; i < shapes.size(); ++i) {
    if (!attach_trans[i].matrix().allFinite()) {
      throw std::invalid_argument("AttachedBody '" + id + "': pose " + std::to_string(i) + " is not finite");
    }
    if (!shapes[i]) continue;
    // The checkers would build no geometry for it, or the world would not take it.
    if (!bramlock::internal::isCheckableWithin(*shapes[i], collision_detection::World::kMaxShapeExtent)) {
      throw std::invalid_argument("AttachedBody '" + id + "': shape " + std::to_string(i) + " cannot be checked");
    }
    shapes_.push_back(shapes[i]);
    attach_trans_.push_back(attach_trans[i]);
    attach_trans_.back().makeAffine();  // the products below rely on an exact last row
  }
  global_collision_body_transforms_.assign(attach_trans_.size(), Eigen::Isometry3d::Identity());
}

const std::string& AttachedBody::getAttachedLinkName() const {
  static const std::string no_link;
  return link_ ? link_->getName() : no_link;
}

template <typename Change>
void AttachedBody::changeShapes(const Change& change) {
  for (std::shared_ptr<const shapes::Shape>& shape : shapes_) {
    if (shape.use_count() == 1) {
      // Sole owner: the shape was made mutable and nobody else sees it.
      change(const_cast<shapes::Shape&>(*shape));
    } else {
      std::shared_ptr<shapes::Shape> copy(shape->clone());
      change(*copy);
      shape = copy;
    }
  }
}

void AttachedBody::setScale(double scale) {
  if (!(scale >= kMinScale && scale <= kMaxScale)) {
    std::printf("scale %g is out of range [%g, %g], scale will set to 1.0\n", scale, kMinScale, kMaxScale);
    scale = 1.0;
  }
  scale_ = scale;
  const auto scaled = [scale](shapes::Shape& shape) { scaleInOwnFrame(shape, scale); };
  if (unpadded_shapes_.empty()) {
    changeShapes(scaled);
    return;
  }
  // The padding (metres) goes around the scaled shapes, as when the scale came
  // first. Always new shapes: geometry built from the old ones knows them by
  // their address.
  for (size_t i = 0; i < shapes_.size(); ++i) {
    std::shared_ptr<shapes::Shape> unpadded(unpadded_shapes_[i]->clone());
    scaled(*unpadded);
    std::shared_ptr<shapes::Shape> padded(unpadded->clone());
    padded->padd(padding_);
    unpadded_shapes_[i] = unpadded;
    shapes_[i] = padded;
  }
}

void AttachedBody::setPadding(double padding) {
  if (padding < 0.0) {
    std::puts("padding<0.0 error,padding will set to 0.0");
    padding = 0.0;
  } else if (!(padding <= kMaxPadding)) {
    std::printf("padding %g is out of range [0, %g], padding will set to 0.0\n", padding, kMaxPadding);
    padding = 0.0;
  }
  padding_ = padding;
  // The shapes as they were before any padding, kept apart once padding changes them.
  if (padding > 0.0 && unpadded_shapes_.empty()) {
    for (const std::shared_ptr<const shapes::Shape>& shape : shapes_) unpadded_shapes_.emplace_back(shape->clone());
  }
  changeShapes([padding](shapes::Shape& shape) { shape.padd(padding); });
}

void AttachedBody::computeTransform(const Eigen::Isometry3d& parent_link_global_transform) {
  Eigen::Isometry3d parent = parent_link_global_transform;
  parent.makeAffine();
  for (size_t i = 0; i < attach_trans_.size(); ++i) {
    bramlock::internal::multiplyRigid(parent, attach_trans_[i], global_collision_body_transforms_[i]);
  }
}

}  // namespace core
}  // namespace moveit
