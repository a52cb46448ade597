// Export of the planned group's collision meshes as PCL polygon meshes.
#include <cstdint>
#include <cstdio>
#include <stdexcept>

#include <geometric_shapes/shapes.h>
#include <pcl/PolygonMesh.h>
#include <pcl/conversions.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"

namespace {

constexpr int kBadJoints = -3;

// Appends the mesh's vertices, placed at pose, and its triangles, whose
// indices are shifted past the points already in the cloud.
void appendMesh(const shapes::Mesh& mesh, const Eigen::Isometry3d& pose, pcl::PointCloud<pcl::PointXYZ>& cloud,
                std::vector<pcl::Vertices>& polygons) {
  const auto offset = static_cast<std::uint32_t>(cloud.size());
  for (unsigned int v = 0; v < mesh.vertex_count; ++v) {
    const Eigen::Vector3d point =
        pose * Eigen::Vector3d(mesh.vertices[3 * v], mesh.vertices[3 * v + 1], mesh.vertices[3 * v + 2]);
    cloud.push_back(
        pcl::PointXYZ(static_cast<float>(point.x()), static_cast<float>(point.y()), static_cast<float>(point.z())));
  }
  for (unsigned int t = 0; t < mesh.triangle_count; ++t) {
    pcl::Vertices triangle;
    for (int corner = 0; corner < 3; ++corner) triangle.vertices.push_back(mesh.triangles[3 * t + corner] + offset);
    polygons.push_back(triangle);
  }
}

}  // namespace

int ManipulatorPlanScene::getLinkPolygonMeshs(std::vector<double> joints, std::vector<pcl::PolygonMesh>& meshes) {
  if (!planned_group_ || joints.size() != planned_group_->getActiveVariableCount() ||
      !expandToGroupLayout(joints.data(), state_scratch_)) {
    return kBadJoints;
  }
  robot_state_->setJointGroupPositions(planned_group_, state_scratch_.data());
  robot_state_->update(false);
  for (const std::string& name : planned_group_->getLinkModelNames()) {
    const moveit::core::LinkModel* link = robot_model_->getLinkModel(name);
    if (!link) throw std::runtime_error("Invalid link.");
    const auto& shapes = link->getShapes();
    if (shapes.empty()) {
      std::puts("link_shapes.size()<=0!");
      return -1;
    }
    pcl::PointCloud<pcl::PointXYZ> cloud;
    pcl::PolygonMesh mesh;
    for (size_t i = 0; i < shapes.size(); ++i) {
      if (shapes[i]->type != shapes::MESH) {
        std::puts("type is not shapes::Mesh");
        return -2;
      }
      appendMesh(static_cast<const shapes::Mesh&>(*shapes[i]), robot_state_->getCollisionBodyTransform(link, i), cloud,
                 mesh.polygons);
    }
    cloud.width = static_cast<std::uint32_t>(cloud.size());
    cloud.height = 1;
    pcl::toPCLPointCloud2(cloud, mesh.cloud);
    meshes.push_back(mesh);
  }
  return 0;
}
