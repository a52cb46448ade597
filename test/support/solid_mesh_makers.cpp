#include "solid_mesh_makers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <sstream>
#include <unordered_map>

#include <geometric_shapes/shapes.h>

namespace bramlock_test {

TriangleMesh boxMesh(const Eigen::Vector3d& low, const Eigen::Vector3d& high) {
  TriangleMesh mesh;
  for (int k = 0; k < 8; ++k) {
    mesh.points.emplace_back(k & 1 ? high.x() : low.x(), k & 2 ? high.y() : low.y(), k & 4 ? high.z() : low.z());
  }
  // Two triangles a face: bottom, top, front, back, left, right.
  const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  for (const auto& f : faces) {
    mesh.triangles.emplace_back(f[0], f[1], f[2]);
    mesh.triangles.emplace_back(f[0], f[2], f[3]);
  }
  return mesh;
}

TriangleMesh lidlessBoxMesh(const Eigen::Vector3d& low, const Eigen::Vector3d& high) {
  TriangleMesh mesh = boxMesh(low, high);
  mesh.triangles.erase(mesh.triangles.begin() + 2, mesh.triangles.begin() + 4);
  return mesh;
}

namespace {

TriangleMesh unitIcosahedron() {
  const double g = (1.0 + std::sqrt(5.0)) / 2.0;
  TriangleMesh mesh;
  for (const auto& v : std::vector<Eigen::Vector3d>{{-1, g, 0},
                                                    {1, g, 0},
                                                    {-1, -g, 0},
                                                    {1, -g, 0},
                                                    {0, -1, g},
                                                    {0, 1, g},
                                                    {0, -1, -g},
                                                    {0, 1, -g},
                                                    {g, 0, -1},
                                                    {g, 0, 1},
                                                    {-g, 0, -1},
                                                    {-g, 0, 1}}) {
    mesh.points.push_back(v.normalized());
  }
  const int faces[20][3] = {{0, 11, 5},  {0, 5, 1},  {0, 1, 7},  {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
                            {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
                            {3, 8, 9},   {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
  for (const auto& f : faces) mesh.triangles.emplace_back(f[0], f[1], f[2]);
  return mesh;
}

// Every triangle split in four at its edge midpoints, pushed out to the unit sphere.
TriangleMesh subdivided(const TriangleMesh& mesh) {
  TriangleMesh finer;
  finer.points = mesh.points;
  finer.triangles.reserve(4 * mesh.triangles.size());
  std::unordered_map<std::uint64_t, size_t> midpoints;
  midpoints.reserve(2 * mesh.triangles.size());
  const auto midpoint = [&](size_t a, size_t b) {
    const std::uint64_t key = (static_cast<std::uint64_t>(std::min(a, b)) << 32) | std::max(a, b);
    const auto [found, added] = midpoints.emplace(key, finer.points.size());
    if (added) finer.points.push_back((finer.points[a] + finer.points[b]).normalized());
    return found->second;
  };
  for (const fcl::Triangle& t : mesh.triangles) {
    const size_t ab = midpoint(t[0], t[1]), bc = midpoint(t[1], t[2]), ca = midpoint(t[2], t[0]);
    finer.triangles.emplace_back(t[0], ab, ca);
    finer.triangles.emplace_back(ab, t[1], bc);
    finer.triangles.emplace_back(ca, bc, t[2]);
    finer.triangles.emplace_back(ab, bc, ca);
  }
  return finer;
}

}  // namespace

TriangleMesh icosphere(const Eigen::Vector3d& centre, double radius, int rounds) {
  TriangleMesh mesh = unitIcosahedron();
  for (int round = 0; round < rounds; ++round) mesh = subdivided(mesh);
  for (Eigen::Vector3d& p : mesh.points) p = centre + radius * p;
  return mesh;
}

Eigen::Vector3d centreOf(const TriangleMesh& mesh, const fcl::Triangle& t) {
  return (mesh.points[t[0]] + mesh.points[t[1]] + mesh.points[t[2]]) / 3.0;
}

TriangleMesh slitSphere(double radius, int rings, int segments, int slits, double gap) {
  TriangleMesh mesh;
  const auto onSphere = [radius](double polar, double azimuth) {
    return Eigen::Vector3d(radius * std::sin(polar) * std::cos(azimuth), radius * std::sin(polar) * std::sin(azimuth),
                           radius * std::cos(polar));
  };
  for (int i = 0; i <= rings; ++i) {
    for (int j = 0; j <= segments; ++j) mesh.points.push_back(onSphere(i * M_PI / rings, j * 2.0 * M_PI / segments));
  }
  // The quads right of a cut take copies of its vertices moved by the gap,
  // on the rings between the first and the last but one.
  std::vector<std::size_t> copies(static_cast<std::size_t>(rings + 1) * (segments + 1));
  for (std::size_t k = 0; k < copies.size(); ++k) copies[k] = k;
  for (int slit = 0; slit < slits; ++slit) {
    const int cut = slit * segments / slits;
    for (int i = 2; i <= rings - 2; ++i) {
      copies[i * (segments + 1) + cut] = mesh.points.size();
      mesh.points.push_back(onSphere(i * M_PI / rings, cut * 2.0 * M_PI / segments + gap));
    }
  }
  const auto at = [&](int ring, int segment, int quad) {
    const std::size_t vertex = ring * (segments + 1) + segment;
    return segment == quad ? copies[vertex] : vertex;
  };
  // The rings at the poles are points: their triangles there would have no area.
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < segments; ++j) {
      if (i + 1 < rings) mesh.triangles.emplace_back(at(i, j, j), at(i + 1, j, j), at(i + 1, j + 1, j));
      if (i > 0) mesh.triangles.emplace_back(at(i, j, j), at(i + 1, j + 1, j), at(i, j + 1, j));
    }
  }
  return mesh;
}

TriangleMesh bookMesh(int pages) {
  TriangleMesh mesh = boxMesh(Eigen::Vector3d::Zero(), Eigen::Vector3d(0.1, 0.06, 0.04));
  // The box's corners 4 and 5 are the spine's ends: (0, 0, 0.04) and (0.1, 0, 0.04).
  for (int page = 0; page < pages; ++page) {
    const double angle = 0.5 * M_PI * (page + 0.5) / pages;
    mesh.points.emplace_back(0.05, 0.03 * std::cos(angle), 0.04 - 0.03 * std::sin(angle));
    mesh.triangles.emplace_back(4, 5, mesh.points.size() - 1);
  }
  return mesh;
}

TriangleMesh writtenTwice(const TriangleMesh& mesh, std::mt19937_64& engine) {
  TriangleMesh copy = mesh;
  std::bernoulli_distribution turned(0.5);
  for (fcl::Triangle& t : copy.triangles) {
    if (turned(engine)) std::swap(t[1], t[2]);
  }
  return appended(mesh, copy);
}

TriangleMesh withScatteredHoles(TriangleMesh mesh, std::size_t count, double apart) {
  std::vector<std::size_t> removed;
  for (std::size_t t = 0; t < mesh.triangles.size() && removed.size() < count; t += 7) {
    const Eigen::Vector3d centre = centreOf(mesh, mesh.triangles[t]);
    const bool far = std::all_of(removed.begin(), removed.end(), [&](std::size_t other) {
      return (centreOf(mesh, mesh.triangles[other]) - centre).norm() >= apart;
    });
    if (far) removed.push_back(t);
  }
  for (auto t = removed.rbegin(); t != removed.rend(); ++t) mesh.triangles.erase(mesh.triangles.begin() + *t);
  return mesh;
}

TriangleMesh inverted(TriangleMesh mesh) {
  for (fcl::Triangle& t : mesh.triangles) std::swap(t[1], t[2]);
  return mesh;
}

TriangleMesh translated(TriangleMesh mesh, const Eigen::Vector3d& offset) {
  for (Eigen::Vector3d& p : mesh.points) p += offset;
  return mesh;
}

TriangleMesh appended(TriangleMesh mesh, const TriangleMesh& more) {
  const size_t offset = mesh.points.size();
  mesh.points.insert(mesh.points.end(), more.points.begin(), more.points.end());
  for (const fcl::Triangle& t : more.triangles)
    mesh.triangles.emplace_back(t[0] + offset, t[1] + offset, t[2] + offset);
  return mesh;
}

TriangleMesh prismMesh(const std::vector<Eigen::Vector2d>& rim, double low, double high) {
  TriangleMesh mesh;
  const size_t n = rim.size();
  for (const Eigen::Vector2d& p : rim) mesh.points.emplace_back(p.x(), p.y(), low);
  for (const Eigen::Vector2d& p : rim) mesh.points.emplace_back(p.x(), p.y(), high);
  const size_t bottom_centre = mesh.points.size();
  mesh.points.emplace_back(0.0, 0.0, low);
  mesh.points.emplace_back(0.0, 0.0, high);
  const size_t top_centre = bottom_centre + 1;
  for (size_t i = 0; i + 1 < n; ++i) {
    const size_t b0 = i, b1 = i + 1, t0 = n + i, t1 = n + i + 1;
    mesh.triangles.emplace_back(b0, b1, t1);
    mesh.triangles.emplace_back(b0, t1, t0);
    mesh.triangles.emplace_back(bottom_centre, b1, b0);
    mesh.triangles.emplace_back(top_centre, t0, t1);
  }
  return mesh;
}

std::vector<Eigen::Vector2d> circleRimWithSeam(double radius, int sides) {
  std::vector<Eigen::Vector2d> rim;
  for (int i = 0; i <= sides; ++i) {
    const double angle = i * 2.0 * M_PI / sides;
    rim.emplace_back(radius * std::cos(angle), radius * std::sin(angle));
  }
  return rim;
}

TriangleMesh floatSoup(const TriangleMesh& mesh, std::mt19937_64& engine) {
  return soupOf(mesh, [&engine](Eigen::Vector3d p, size_t, size_t) {
    for (int axis = 0; axis < 3; ++axis) {
      float value = static_cast<float>(p[axis]);
      const float towards = engine() % 2 ? 1e30f : -1e30f;
      for (int step = 0, steps = static_cast<int>(engine() % 3); step < steps; ++step) {
        value = std::nextafter(value, towards);
      }
      p[axis] = value;
    }
    return p;
  });
}

TriangleMesh roundedApartSoup(const TriangleMesh& mesh, double apart, std::mt19937_64& engine) {
  std::uniform_real_distribution<double> offset(-apart, apart);
  return soupOf(mesh, [&](const Eigen::Vector3d& p, size_t, size_t) {
    return Eigen::Vector3d(p + Eigen::Vector3d(offset(engine), offset(engine), offset(engine)));
  });
}

TriangleMesh boxWithTJunctions(int grid) {
  TriangleMesh box = boxMesh(Eigen::Vector3d::Zero(), Eigen::Vector3d::Ones());
  const size_t middle = box.points.size();
  box.points.emplace_back(0.5, 0.0, 0.0);
  // The front face's first triangle (0, 1, 5) split at the middle of edge 0-1; the bottom keeps it whole.
  box.triangles[4] = fcl::Triangle(0, middle, 5);
  box.triangles.emplace_back(middle, 1, 5);
  box.triangles.erase(box.triangles.begin() + 2, box.triangles.begin() + 4);
  const size_t first = box.points.size();
  for (int i = 0; i <= grid; ++i) {
    for (int j = 0; j <= grid; ++j)
      box.points.emplace_back(static_cast<double>(i) / grid, static_cast<double>(j) / grid, 1.0);
  }
  const auto at = [&](int i, int j) { return first + i * (grid + 1) + j; };
  for (int i = 0; i < grid; ++i) {
    for (int j = 0; j < grid; ++j) {
      box.triangles.emplace_back(at(i, j), at(i + 1, j), at(i + 1, j + 1));
      box.triangles.emplace_back(at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  }
  return box;
}

TriangleMesh halfCylinderSheet(const Eigen::Vector3d& centre, double radius, double length) {
  return gridSurface(12, 6, [&](double u, double v) {
    const double angle = M_PI * u;
    return Eigen::Vector3d(centre +
                           Eigen::Vector3d((v - 0.5) * length, radius * std::cos(angle), radius * std::sin(angle)));
  });
}

TriangleMesh perFaceBox(const Eigen::Vector3d& low, const Eigen::Vector3d& high, double crack, int grid) {
  std::array<std::array<int, 2>, 6> grids;
  grids.fill({grid, grid});
  return perFaceBox(low, high, crack, grids);
}

TriangleMesh perFaceBox(const Eigen::Vector3d& low, const Eigen::Vector3d& high, double crack,
                        const std::array<std::array<int, 2>, 6>& grids) {
  const TriangleMesh box = boxMesh(low, high);
  const Eigen::Vector3d middle = 0.5 * (low + high);
  TriangleMesh faces;
  for (int face = 0; face < 6; ++face) {
    const fcl::Triangle& first = box.triangles[2 * face];
    const fcl::Triangle& second = box.triangles[2 * face + 1];
    Eigen::Vector3d corner[4] = {box.points[first[0]], box.points[first[1]], box.points[first[2]],
                                 box.points[second[2]]};
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    for (const Eigen::Vector3d& c : corner) centre += c / 4.0;
    for (Eigen::Vector3d& c : corner) {
      for (int axis = 0; axis < 3; ++axis) {
        if (centre[axis] != middle[axis] && (c[axis] == low[axis] || c[axis] == high[axis])) continue;
        c[axis] += crack * (centre[axis] > c[axis] ? 1.0 : -1.0);
      }
    }
    faces = appended(faces, gridSurface(grids[face][0], grids[face][1], [&](double u, double v) {
                       return Eigen::Vector3d((1 - u) * ((1 - v) * corner[0] + v * corner[3]) +
                                              u * ((1 - v) * corner[1] + v * corner[2]));
                     }));
  }
  return faces;
}

TriangleMesh boxWithEdgeFins(const Eigen::Vector3d& low, const Eigen::Vector3d& high, double length) {
  TriangleMesh mesh = boxMesh(low, high);
  const Eigen::Vector3d centre = 0.5 * (low + high);
  for (int a = 0; a < 8; ++a) {
    for (int axis = 0; axis < 3; ++axis) {
      const int b = a | (1 << axis);
      if (b == a) continue;
      const Eigen::Vector3d middle = 0.5 * (mesh.points[a] + mesh.points[b]);
      Eigen::Vector3d out = middle - centre;
      out[axis] = 0.0;
      mesh.points.push_back(middle + length * out.normalized());
      mesh.triangles.emplace_back(a, b, mesh.points.size() - 1);
    }
  }
  return mesh;
}

TriangleMesh roomMesh(const Eigen::Vector3d& low, const Eigen::Vector3d& high, double wall) {
  const Eigen::Vector3d thickness = Eigen::Vector3d::Constant(wall);
  return appended(boxMesh(low, high), inverted(boxMesh(low + thickness, high - thickness)));
}

std::shared_ptr<shapes::Mesh> meshShape(const TriangleMesh& mesh) {
  auto shape = std::make_shared<shapes::Mesh>(mesh.points.size(), mesh.triangles.size());
  for (size_t v = 0; v < mesh.points.size(); ++v) {
    for (int k = 0; k < 3; ++k) shape->vertices[3 * v + k] = mesh.points[v][k];
  }
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    for (int k = 0; k < 3; ++k) shape->triangles[3 * t + k] = static_cast<unsigned int>(mesh.triangles[t][k]);
  }
  return shape;
}

std::string asciiStl(const TriangleMesh& mesh) {
  std::ostringstream stl;
  stl.precision(std::numeric_limits<double>::max_digits10);
  stl << "solid mesh\n";
  for (const fcl::Triangle& t : mesh.triangles) {
    // Readers take the facing from the order of the corners.
    stl << "facet normal 0 0 0\nouter loop\n";
    for (int k = 0; k < 3; ++k) {
      const Eigen::Vector3d& p = mesh.points[t[k]];
      stl << "vertex " << p.x() << ' ' << p.y() << ' ' << p.z() << '\n';
    }
    stl << "endloop\nendfacet\n";
  }
  stl << "endsolid mesh\n";
  return stl.str();
}

TriangleMesh coneMesh(double apex_z, double radius, int sides, int rings) {
  TriangleMesh mesh;
  mesh.points.emplace_back(0.0, 0.0, apex_z);
  mesh.points.emplace_back(0.0, 0.0, 0.0);
  // Ring r (1 to rings) at a share r / rings of the way from the apex to the base.
  const auto at = [sides](int ring, int k) { return static_cast<size_t>(2 + (ring - 1) * sides + (k % sides)); };
  for (int ring = 1; ring <= rings; ++ring) {
    const double share = static_cast<double>(ring) / rings;
    for (int k = 0; k < sides; ++k) {
      const double angle = 2.0 * M_PI * k / sides;
      mesh.points.emplace_back(share * radius * std::cos(angle), share * radius * std::sin(angle),
                               (1.0 - share) * apex_z);
    }
  }
  for (int k = 0; k < sides; ++k) {
    mesh.triangles.emplace_back(0, at(1, k), at(1, k + 1));
    for (int ring = 1; ring < rings; ++ring) {
      mesh.triangles.emplace_back(at(ring, k), at(ring + 1, k), at(ring + 1, k + 1));
      mesh.triangles.emplace_back(at(ring, k), at(ring + 1, k + 1), at(ring, k + 1));
    }
    mesh.triangles.emplace_back(1, at(rings, k + 1), at(rings, k));
  }
  return mesh;
}

TriangleMesh stripSlab(double length, double width, double height, int strips) {
  // The slab's cross-section in the yz plane: its bottom edge, then its top edge back.
  std::vector<Eigen::Vector2d> outline;
  for (int k = 0; k <= strips; ++k) outline.emplace_back(width * k / strips, 0.0);
  for (int k = strips; k >= 0; --k) outline.emplace_back(width * k / strips, height);
  TriangleMesh mesh;
  const size_t n = outline.size();
  for (const double x : {0.0, length}) {
    for (const Eigen::Vector2d& p : outline) mesh.points.emplace_back(x, p.x(), p.y());
  }
  for (size_t k = 0; k < n; ++k) {
    const size_t next = (k + 1) % n;
    mesh.triangles.emplace_back(k, n + k, n + next);
    mesh.triangles.emplace_back(k, n + next, next);
  }
  // The ends: bottom point k against top point n - 1 - k.
  for (size_t k = 0; k < static_cast<size_t>(strips); ++k) {
    const size_t bottom = k, top = n - 1 - k;
    mesh.triangles.emplace_back(bottom, top, top - 1);
    mesh.triangles.emplace_back(bottom, top - 1, bottom + 1);
    mesh.triangles.emplace_back(n + bottom, n + top - 1, n + top);
    mesh.triangles.emplace_back(n + bottom, n + bottom + 1, n + top - 1);
  }
  return mesh;
}

}  // namespace bramlock_test
