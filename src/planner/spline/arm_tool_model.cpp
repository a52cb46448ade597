#include "planner/spline/arm_tool_model.h"

#include <stdexcept>

namespace bramlock {
namespace internal {

std::shared_ptr<dynamics::Model> loadArmModelWithTool(const std::string& urdf_path) {
  auto model = dynamics::Model::fromUrdfFile(urdf_path);
  if (!model->existFrame("link6")) {
    throw std::runtime_error("the model of \"" + urdf_path + "\" has no frame \"link6\" to carry the tool frame");
  }
  const dynamics::FrameIndex link6 = model->getFrameId("link6");
  dynamics::Frame tool;
  tool.name = "end_effector";
  tool.type = dynamics::kOperationalFrame;
  tool.parent_joint = model->frames()[link6].parent_joint;
  tool.previous_frame = link6;
  tool.placement = KDL::Frame(KDL::Vector(0.0, 0.0, 0.45));
  model->addFrame(tool);
  return model;
}

}  // namespace internal
}  // namespace bramlock
