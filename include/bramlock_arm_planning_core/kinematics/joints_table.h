#pragma once

#include <array>
#include <cstddef>
#include <istream>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <nanoflann.hpp>

#include "bramlock_arm_planning_core/export.h"

// Dataset view of the sample positions for the KD-tree: the first three values
// of each point are its coordinates.
struct BRAMLOCK_EXPORT PointCloudAdaptor {
  explicit PointCloudAdaptor(const std::vector<std::array<float, 7>>* points) : points_(points) {}

  std::size_t kdtree_get_point_count() const { return points_->size(); }
  float kdtree_get_pt(std::size_t index, std::size_t dimension) const { return (*points_)[index][dimension]; }
  // No precomputed box: the tree computes its own when it is built.
  template <class BoundingBox>
  bool kdtree_get_bbox(BoundingBox& /*box*/) const {
    return false;
  }

  const std::vector<std::array<float, 7>>* points_;
};

// Sampled arm configurations (joint vector and the pose it reaches), loaded
// from the planning package's robot_pose_samples.txt and indexed by position,
// so that joint vectors near a target pose can serve as seeds.
class BRAMLOCK_EXPORT JointsTable {
 public:
  using KdTree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<float, PointCloudAdaptor>,
                                                     PointCloudAdaptor, 3, unsigned int>;

  JointsTable();
  // The adaptor points at points_ and the tree at the adaptor: neither may move.
  JointsTable(const JointsTable&) = delete;
  JointsTable& operator=(const JointsTable&) = delete;

  // Joint vectors of the samples within 0.03 m on every axis of the pose's
  // position, nearest first, without near-duplicates. `count` is not used.
  std::vector<std::vector<double>> getNeighbors(Eigen::Matrix4d pose, std::size_t count);

  // x, y, z, then the quaternion w, x, y, z of the rotation block.
  static std::vector<double> rotationMatrixToQuaternion(const Eigen::Matrix4d& pose);
  // x, y, z, roll, pitch, yaw; NaN angles when the rotation block holds a value that is not finite.
  static std::vector<double> matrix4dToXYZRPY(const Eigen::Matrix4d& pose);
  // The first seven values as float; all zeros when there are fewer than seven.
  static std::array<float, 7> vectorToFloatArray(const std::vector<double>& values);

 private:
  void readSamples(std::istream& file);
  void addSample(const std::vector<float>& values);
  void buildIndex();

  std::shared_ptr<KdTree> index_;
  std::vector<std::vector<double>> joints_;
  std::vector<std::vector<double>> poses_;
  std::vector<std::array<float, 7>> points_;
  std::unique_ptr<PointCloudAdaptor> adaptor_;
};
