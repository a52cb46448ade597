#pragma once

#include <memory>
#include <string>
#include <vector>

#include <urdf/model.h>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/srdf/model.h"

namespace rdf_loader {

// Parses robot-description texts into URDF and SRDF models, and reads
// description files (running xacro for .xacro files) into strings.
class BRAMLOCK_EXPORT RDFLoader {
 public:
  // The SRDF is parsed only when the URDF parses; a model that does not parse stays null.
  RDFLoader(const std::string& urdf_string, const std::string& srdf_string);
  // Does not read the named description: both models stay null.
  explicit RDFLoader(const std::string& robot_description);

  const std::string& getRobotDescription() const { return description_; }
  const std::shared_ptr<urdf::Model>& getURDF() const { return urdf_; }
  const std::shared_ptr<srdf::Model>& getSRDF() const { return srdf_; }

  // True when the path contains ".xacro" in any letter case.
  static bool isXacroFile(const std::string& path);
  // Replaces the buffer with the whole file.
  static bool loadFileToString(std::string& buffer, const std::string& path);
  // Appends the output of "rosrun xacro xacro <args...> <path>" to the buffer
  // when the command succeeds; on failure the buffer is left as it was.
  static bool loadXacroFileToString(std::string& buffer, const std::string& path,
                                    const std::vector<std::string>& xacro_args);
  static bool loadXmlFileToString(std::string& buffer, const std::string& path,
                                  const std::vector<std::string>& xacro_args);
  // Package lookup is not available: always fails.
  static bool loadPkgFileToString(std::string& buffer, const std::string& package_name,
                                  const std::string& relative_path, const std::vector<std::string>& xacro_args);

 private:
  std::string description_;
  std::shared_ptr<srdf::Model> srdf_;
  std::shared_ptr<urdf::Model> urdf_;
};

}  // namespace rdf_loader
