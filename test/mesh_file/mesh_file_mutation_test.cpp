// Seeded mutants of small valid files of every format read here: each loads
// or is refused, and one that loads has the triangles a separate, plain
// parse written here finds in it.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "mesh_file/mesh_file.h"
#include "mesh_file_texts.h"
#include "test_support.h"

namespace {

using bramlock::internal::loadMeshFile;
using bramlock::internal::MeshFile;
using namespace bramlock_test;

using Parse = std::optional<TrianglePoints>;  // nothing: the plain parse refuses it

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> wordsOf(const std::string& text) {
  std::vector<std::string> words;
  std::istringstream in(text);
  for (std::string word; in >> word;) words.push_back(word);
  return words;
}

std::optional<double> number(const std::string& word) {
  char* end = nullptr;
  const double value = std::strtod(word.c_str(), &end);
  if (word.empty() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<long long> whole(const std::string& word) {
  char* end = nullptr;
  const long long value = std::strtoll(word.c_str(), &end, 10);
  if (word.empty() || *end != '\0') return std::nullopt;
  return value;
}

// Triangles fanned from each polygon's first corner, or nothing when a corner names no point.
Parse fanned(const std::vector<double>& points, const std::vector<std::vector<long long>>& polygons) {
  TrianglePoints triangles;
  const long long count = static_cast<long long>(points.size() / 3);
  for (const auto& polygon : polygons) {
    for (long long corner : polygon) {
      if (corner < 0 || corner >= count) return std::nullopt;
    }
    for (size_t k = 2; k < polygon.size(); ++k) {
      std::array<double, 9> triangle;
      const long long corners[3] = {polygon[0], polygon[k - 1], polygon[k]};
      for (int c = 0; c < 9; ++c) triangle[c] = points[3 * corners[c / 3] + c % 3];
      triangles.push_back(triangle);
    }
  }
  return triangles;
}

Parse parseObj(const std::string& text) {
  std::vector<double> points;
  std::vector<std::vector<long long>> polygons;
  for (const std::string& line : linesOf(text)) {
    const std::vector<std::string> words = wordsOf(line);
    if (words.empty()) continue;
    if (words[0] == "v") {
      for (size_t k = 1; k <= 3; ++k) {
        const auto value = k < words.size() ? number(words[k]) : std::nullopt;
        if (!value) return std::nullopt;
        points.push_back(*value);
      }
    } else if (words[0] == "f") {
      std::vector<long long> polygon;
      const long long written = static_cast<long long>(points.size() / 3);
      for (size_t k = 1; k < words.size(); ++k) {
        const auto index = whole(words[k].substr(0, words[k].find('/')));
        if (!index || *index == 0 || *index > written || *index < -written) return std::nullopt;
        polygon.push_back(*index > 0 ? *index - 1 : written + *index);
      }
      polygons.push_back(polygon);
    }
  }
  return fanned(points, polygons);
}

Parse parseOff(const std::string& text) {
  std::vector<std::vector<std::string>> lines;
  for (std::string line : linesOf(text)) {
    line = line.substr(0, line.find('#'));
    if (!wordsOf(line).empty()) lines.push_back(wordsOf(line));
  }
  if (lines.empty() || lines[0][0] != "OFF") return std::nullopt;
  std::vector<std::string> counts(lines[0].begin() + 1, lines[0].end());
  size_t at = 1;
  if (counts.empty() && at < lines.size()) counts = lines[at++];
  const auto vertices = counts.size() >= 2 ? whole(counts[0]) : std::nullopt;
  const auto faces = counts.size() >= 2 ? whole(counts[1]) : std::nullopt;
  if (!vertices || !faces || *vertices < 0 || *faces < 0 || at + *vertices + *faces != lines.size())
    return std::nullopt;
  std::vector<double> points;
  for (long long v = 0; v < *vertices; ++v, ++at) {
    for (size_t k = 0; k < 3; ++k) {
      const auto value = k < lines[at].size() ? number(lines[at][k]) : std::nullopt;
      if (!value) return std::nullopt;
      points.push_back(*value);
    }
  }
  std::vector<std::vector<long long>> polygons;
  for (long long f = 0; f < *faces; ++f, ++at) {
    const auto corners = whole(lines[at][0]);
    if (!corners || *corners < 0 || static_cast<size_t>(*corners) >= lines[at].size()) return std::nullopt;
    std::vector<long long> polygon;
    for (long long k = 1; k <= *corners; ++k) {
      const auto index = whole(lines[at][k]);
      if (!index) return std::nullopt;
      polygon.push_back(*index);
    }
    polygons.push_back(polygon);
  }
  return fanned(points, polygons);
}

// A solid's name is the rest of its line, at its start and at its end.
Parse parseTextStl(const std::string& text) {
  std::string unnamed;
  for (const std::string& line : linesOf(text)) {
    const std::vector<std::string> words = wordsOf(line);
    const bool named = !words.empty() && (words[0] == "solid" || words[0] == "endsolid");
    unnamed += (named ? words[0] : line) + "\n";
  }
  const std::vector<std::string> words = wordsOf(unnamed);
  std::vector<double> points;
  std::vector<std::vector<long long>> polygons;
  size_t at = 0;
  const auto expect = [&](const char* word) { return at < words.size() && words[at++] == word; };
  while (at < words.size()) {
    if (!expect("solid")) return std::nullopt;
    while (at < words.size() && words[at] == "facet") {
      ++at;
      if (!expect("normal")) return std::nullopt;
      at += 3;
      if (!expect("outer") || !expect("loop")) return std::nullopt;
      std::vector<long long> polygon;
      while (at < words.size() && words[at] == "vertex") {
        for (size_t k = 1; k <= 3; ++k) {
          const auto value = at + k < words.size() ? number(words[at + k]) : std::nullopt;
          if (!value) return std::nullopt;
          points.push_back(*value);
        }
        polygon.push_back(static_cast<long long>(points.size() / 3 - 1));
        at += 4;
      }
      if (!expect("endloop") || !expect("endfacet")) return std::nullopt;
      polygons.push_back(polygon);
    }
    if (!expect("endsolid")) return std::nullopt;
  }
  return fanned(points, polygons);
}

Parse parseStl(const std::string& data) {
  std::uint32_t count = 0;
  if (data.size() >= 84) std::memcpy(&count, &data[80], 4);
  if (data.size() < 84 || data.size() != 84 + 50 * static_cast<std::uint64_t>(count)) return parseTextStl(data);
  std::vector<double> points;
  std::vector<std::vector<long long>> polygons;
  for (std::uint32_t t = 0; t < count; ++t) {
    for (int k = 0; k < 9; ++k) {
      float value;
      std::memcpy(&value, &data[84 + 50 * t + 12 + 4 * k], 4);
      if (!std::isfinite(value)) return std::nullopt;
      points.push_back(value);
    }
    polygons.push_back({3 * t, 3 * t + 1, 3 * t + 2});
  }
  return fanned(points, polygons);
}

// The box's PLY layout alone (float x, y, z; uchar counts of int corners);
// for a mutant with another header the plain parse cannot say.
std::optional<Parse> parsePly(const std::string& data, PlyFormat format) {
  const std::string box = plyFile(plyBox(), format);
  const size_t header = box.find("end_header\n") + 11;
  if (data.compare(0, header, box, 0, header) != 0) return std::nullopt;
  std::vector<double> points;
  std::vector<std::vector<long long>> polygons;
  if (format == PlyFormat::kAscii) {
    const std::vector<std::string> words = wordsOf(data.substr(header));
    size_t at = 0;
    for (; at < 24; ++at) {
      const auto value = at < words.size() ? number(words[at]) : std::nullopt;
      if (!value || !std::isfinite(static_cast<float>(*value))) return Parse();
      points.push_back(static_cast<float>(*value));
    }
    for (int f = 0; f < 6; ++f) {
      const auto corners = at < words.size() ? whole(words[at++]) : std::nullopt;
      if (!corners || *corners < 0 || *corners > 255) return Parse();
      std::vector<long long> polygon;
      for (long long k = 0; k < *corners; ++k) {
        const auto index = at < words.size() ? whole(words[at++]) : std::nullopt;
        if (!index) return Parse();
        polygon.push_back(*index);
      }
      polygons.push_back(polygon);
    }
    if (at != words.size()) return Parse();
    return fanned(points, polygons);
  }
  size_t at = header;
  const auto take = [&](void* value, size_t size) {
    if (at + size > data.size()) return false;
    std::memcpy(value, &data[at], size);
    at += size;
    return true;
  };
  for (int k = 0; k < 24; ++k) {
    float value;
    if (!take(&value, 4) || !std::isfinite(value)) return Parse();
    points.push_back(value);
  }
  for (int f = 0; f < 6; ++f) {
    std::uint8_t corners;
    if (!take(&corners, 1)) return Parse();
    std::vector<long long> polygon;
    for (int k = 0; k < corners; ++k) {
      std::int32_t index;
      if (!take(&index, 4)) return Parse();
      polygon.push_back(index);
    }
    polygons.push_back(polygon);
  }
  if (at != data.size()) return Parse();
  return fanned(points, polygons);
}

// A byte set, bytes cut out, bytes put in (from those that change what a
// text means), or the end cut off.
std::string mutant(std::string data, std::mt19937& random) {
  static const std::string kBytes = "0123456789-+.e #/\n\r\tnaif\xff";
  const auto at = [&](size_t size) { return std::uniform_int_distribution<size_t>(0, size)(random); };
  switch (std::uniform_int_distribution<int>(0, 3)(random)) {
    case 0:
      if (!data.empty()) data[at(data.size() - 1)] = static_cast<char>(random() & 0xff);
      return data;
    case 1: {
      const size_t start = at(data.size());
      return data.erase(start, 1 + random() % 8);
    }
    case 2: {
      std::string bytes;
      for (size_t k = 1 + random() % 4; k > 0; --k) bytes.push_back(kBytes[random() % kBytes.size()]);
      return data.insert(at(data.size()), bytes);
    }
    default:
      return data.substr(0, at(data.size()));
  }
}

TEST(MeshFileMutants, EachLoadsAsAPlainParseReadsItOrIsRefused) {
  struct Base {
    std::string name;
    std::string data;
  };
  const std::vector<Base> bases = {{"box.stl", boxBinaryStl()},
                                   {"text.stl", boxAsciiStl()},
                                   {"box.obj", boxObj()},
                                   {"box.off", boxOff()},
                                   {"text.ply", plyFile(plyBox(), PlyFormat::kAscii)},
                                   {"binary.ply", plyFile(plyBox(), PlyFormat::kLittleEndian)}};
  constexpr int kMutantsPerFile = 300;
  TempDir dir;
  std::mt19937 random(20260);
  for (const Base& base : bases) {
    int loaded = 0;
    int compared = 0;
    for (int m = 0; m < kMutantsPerFile; ++m) {
      const std::string data = mutant(base.data, random);
      const std::string path = (dir.path() / base.name).string();
      writeFile(path, data);
      const MeshFile file = loadMeshFile(path);
      ASSERT_NE(file.outcome == MeshFile::Outcome::kLoaded, file.mesh == nullptr) << base.name << " " << m;
      if (!file.mesh) {
        EXPECT_FALSE(file.reason.empty()) << base.name << " " << m;
        continue;
      }
      ++loaded;
      const bool ply = base.name.find(".ply") != std::string::npos;
      const std::optional<Parse> plain =
          ply ? parsePly(data, base.name == "text.ply" ? PlyFormat::kAscii : PlyFormat::kLittleEndian)
          : base.name.find(".obj") != std::string::npos ? Parse(parseObj(data))
          : base.name.find(".off") != std::string::npos ? Parse(parseOff(data))
                                                        : Parse(parseStl(data));
      if (!plain) continue;  // a PLY header the plain parse does not know
      ++compared;
      ASSERT_TRUE(plain->has_value()) << base.name << " mutant " << m << " loaded; the plain parse refuses it";
      EXPECT_TRUE(sameTriangles(trianglePoints(*file.mesh), **plain, 0.0)) << base.name << " mutant " << m;
    }
    EXPECT_GT(loaded, kMutantsPerFile / 10) << base.name << ": the mutants must reach the readers' loading paths";
    EXPECT_GT(compared, loaded / 2) << base.name;
  }
}

}  // namespace
