#pragma once

// Copies of the published RM65 with one thing changed, written into a
// temporary directory at test time, and STL files with one vertex moved.

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "scene_arm.h"

namespace bramlock_test {

// The URDF text with the element that opens with `open` and ends with
// `close`, the first one after `owner` (a link's or joint's name attribute), replaced.
inline std::string withElementOf(std::string urdf, const std::string& owner, const std::string& open,
                                 const std::string& close, const std::string& replacement) {
  const size_t named = urdf.find(owner);
  const size_t begin = named == std::string::npos ? named : urdf.find(open, named);
  const size_t end = begin == std::string::npos ? begin : urdf.find(close, begin);
  EXPECT_NE(end, std::string::npos) << owner << " " << open;
  if (end == std::string::npos) return urdf;
  return urdf.replace(begin, end + close.size() - begin, replacement);
}

// The RM65's URDF with its package references made absolute, so a copy in
// another directory still reads the fixture's meshes.
inline std::string rm65UrdfWithAbsoluteMeshes() {
  std::string urdf = fileText(fixturePath("realman/rm_description/urdf/rm_65.urdf"));
  const std::string package = "package://";
  for (size_t at = urdf.find(package); at != std::string::npos; at = urdf.find(package, at)) {
    urdf.replace(at, package.size(), "file://" + fixturePath("realman/"));
  }
  return urdf;
}

// The RM65 scene (as makeRm65 builds it) from the URDF text, written into dir with the fixture's SRDF.
inline std::unique_ptr<ManipulatorPlanScene> makeRm65Copy(const TempDir& dir, const std::string& urdf) {
  writeFile(dir.path() / "rm_65.urdf", urdf);
  writeFile(dir.path() / "rm_65.srdf", fileText(fixturePath("realman/rm_65.srdf")));
  OutputCapture quiet;
  auto table = sceneArmMdhTable();
  return std::make_unique<ManipulatorPlanScene>(dir.path().string() + "/", "rm_65.urdf", "rm_65.srdf", "arm", 0.0, 1.0,
                                                "Link6", table, sceneArmAccelerationLimits());
}

// A binary STL fixture (80-byte header, facet count, then 50 bytes per facet,
// of which the first 12 are the normal) with the x of its first vertex replaced.
inline std::string stlWithFirstVertexX(const std::string& fixture, float x) {
  std::string stl = fileText(fixturePath(fixture));
  EXPECT_GE(stl.size(), 84u + 50u) << fixture;
  if (stl.size() >= 84 + 50) std::memcpy(&stl[84 + 12], &x, sizeof x);
  return stl;
}

}  // namespace bramlock_test
