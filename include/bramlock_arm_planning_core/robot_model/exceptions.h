#pragma once

#include <stdexcept>
#include <string>

namespace moveit {
namespace core {

// A description file that cannot be found, read or parsed.
class Exception : public std::runtime_error {
 public:
  Exception(const std::string& file, const std::string& message);
};

}  // namespace core
}  // namespace moveit
