#include "bramlock_arm_planning_core/robot_model/exceptions.h"

namespace moveit {
namespace core {

Exception::Exception(const std::string& file, const std::string& message)
    : std::runtime_error("Error retrieving file [" + file + "]: " + message) {}

}  // namespace core
}  // namespace moveit
