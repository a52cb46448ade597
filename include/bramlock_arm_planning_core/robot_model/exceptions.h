#pragma once

#include <stdexcept>
#include <string>

#include "bramlock_arm_planning_core/export.h"

namespace moveit {
namespace core {

// A description file that cannot be found, read or parsed.
class BRAMLOCK_EXPORT Exception : public std::runtime_error {
 public:
  Exception(const std::string& file, const std::string& message);
};

}  // namespace core
}  // namespace moveit
