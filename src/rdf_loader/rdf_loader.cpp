#include "bramlock_arm_planning_core/rdf_loader/rdf_loader.h"

#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <optional>

#include <boost/filesystem.hpp>

namespace rdf_loader {
namespace {

boost::filesystem::file_type fileType(const std::string& path) {
  boost::system::error_code error;
  return boost::filesystem::status(path, error).type();
}

bool exists(boost::filesystem::file_type type) {
  return type != boost::filesystem::status_error && type != boost::filesystem::file_not_found;
}

// One shell word holding the text as it is: single-quoted, each quote inside written as '\''.
std::string shellQuoted(const std::string& text) {
  std::string quoted = "'";
  for (const char c : text) {
    if (c == '\'') {
      quoted += "'\\''";
    } else {
      quoted += c;
    }
  }
  return quoted + "'";
}

std::string xacroCommand(const std::string& path, const std::vector<std::string>& xacro_args) {
  std::string command = "rosrun xacro xacro ";
  for (const std::string& argument : xacro_args) command += shellQuoted(argument) + " ";
  return command + shellQuoted(path);
}

bool exitedCleanly(int status) { return status != -1 && WIFEXITED(status) && WEXITSTATUS(status) == 0; }

// The command's standard output, or nothing when it cannot be started or does not exit with status 0.
std::optional<std::string> runCommand(const std::string& command, const std::string& path) {
  std::FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) {
    std::puts("Unable to load path!!!");
    return std::nullopt;
  }
  std::string output;
  char piece[128];
  std::size_t count = 0;
  while ((count = std::fread(piece, 1, sizeof(piece), pipe)) > 0) output.append(piece, count);
  if (!exitedCleanly(::pclose(pipe))) {
    std::printf("xacro failed on %s!!!\n", path.c_str());
    return std::nullopt;
  }
  return output;
}

}  // namespace

RDFLoader::RDFLoader(const std::string& urdf_string, const std::string& srdf_string) {
  auto urdf_model = std::make_shared<urdf::Model>();
  if (!urdf_model->initString(urdf_string)) return;
  urdf_ = urdf_model;
  auto srdf_model = std::make_shared<srdf::Model>();
  if (srdf_model->initString(*urdf_, srdf_string)) srdf_ = srdf_model;
}

RDFLoader::RDFLoader(const std::string& /*robot_description*/) : RDFLoader(std::string(), std::string()) {}

bool RDFLoader::isXacroFile(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(),
                 [](char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); });
  return lower.find(".xacro") != std::string::npos;
}

bool RDFLoader::loadFileToString(std::string& buffer, const std::string& path) {
  if (path.empty()) return false;
  const boost::filesystem::file_type type = fileType(path);
  // A directory opens like a file but cannot be read as one.
  if (!exists(type) || type == boost::filesystem::directory_file) return false;
  std::ifstream stream(path);
  if (!stream.is_open()) return false;
  std::string content;
  stream.seekg(0, std::ios::end);
  const std::streamoff size = stream.tellg();
  if (size > 0) content.reserve(static_cast<std::size_t>(size));
  stream.seekg(0, std::ios::beg);
  content.assign(std::istreambuf_iterator<char>(stream), std::istreambuf_iterator<char>());
  buffer = std::move(content);
  return true;
}

bool RDFLoader::loadXacroFileToString(std::string& buffer, const std::string& path,
                                      const std::vector<std::string>& xacro_args) {
  if (path.empty()) {
    std::puts("Path is empty!!!");
    return false;
  }
  if (!exists(fileType(path))) {
    std::puts("File does not exist!!!");
    return false;
  }
  const std::optional<std::string> output = runCommand(xacroCommand(path, xacro_args), path);
  if (!output) return false;
  buffer += *output;
  return true;
}

bool RDFLoader::loadXmlFileToString(std::string& buffer, const std::string& path,
                                    const std::vector<std::string>& xacro_args) {
  if (isXacroFile(path)) return loadXacroFileToString(buffer, path, xacro_args);
  return loadFileToString(buffer, path);
}

bool RDFLoader::loadPkgFileToString(std::string& /*buffer*/, const std::string& package_name,
                                    const std::string& /*relative_path*/,
                                    const std::vector<std::string>& /*xacro_args*/) {
  std::printf("Unable to find the package name %s!!!\n", package_name.c_str());
  return false;
}

}  // namespace rdf_loader
