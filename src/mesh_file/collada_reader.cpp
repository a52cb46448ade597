#include "collada_reader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <map>
#include <vector>

#include <tinyxml2.h>
#include <Eigen/Geometry>

#include "scene_assembly.h"

namespace bramlock {
namespace internal {

namespace {

using tinyxml2::XMLElement;

// The unit's range: from a nanometre to a thousand kilometres, the widest a
// robot's parts may plausibly be drawn in; beyond it a unit is a typo.
constexpr double kSmallestUnit = 1e-9;
constexpr double kLargestUnit = 1e6;
// Far more than any Collada element carries.
constexpr size_t kMostAttributes = 256;

// An element as a refusal names it: its tag, with its id when it has one.
std::string described(const XMLElement& element) {
  const char* id = element.Attribute("id");
  return "<" + std::string(element.Name()) + (id ? " id=" + quotedForRefusal(id) : std::string()) + ">";
}

bool isXmlSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Calls `visit` with each word of the text, split at XML white space.
template <typename Visit>
void forEachWord(const char* text, Visit visit) {
  if (!text) return;
  std::string_view rest(text);
  while (true) {
    size_t start = 0;
    while (start < rest.size() && isXmlSpace(rest[start])) ++start;
    if (start == rest.size()) return;
    size_t end = start;
    while (end < rest.size() && !isXmlSpace(rest[end])) ++end;
    visit(rest.substr(start, end - start));
    rest.remove_prefix(end);
  }
}

// A whole non-negative decimal number, nothing else (no sign, fraction or
// trailing byte), or nothing.
template <typename Unsigned>
std::optional<Unsigned> wholeNumber(std::string_view word) {
  Unsigned value = 0;
  const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

// A finite number written whole (an optional leading '+' as XML allows), or nothing.
std::optional<double> finiteNumber(std::string_view word) {
  const std::optional<double> value = numberWritten(word);
  return value && std::isfinite(*value) ? value : std::nullopt;
}

std::vector<double> finiteNumbersIn(const XMLElement& element) {
  std::vector<double> numbers;
  forEachWord(element.GetText(), [&](std::string_view word) {
    const std::optional<double> number = finiteNumber(word);
    if (!number)
      throw Malformed("its " + described(element) + " holds " + quotedForRefusal(word) + ", not a finite number");
    numbers.push_back(*number);
  });
  return numbers;
}

std::vector<double> finiteNumbersIn(const XMLElement& element, size_t expected) {
  std::vector<double> numbers = finiteNumbersIn(element);
  if (numbers.size() != expected) {
    throw Malformed("its " + described(element) + " holds " + std::to_string(numbers.size()) + " numbers, not " +
                    std::to_string(expected));
  }
  return numbers;
}

// An attribute that must be a whole non-negative number; `fallback` when absent, if the attribute may be.
template <typename Unsigned = std::uint64_t>
Unsigned wholeAttribute(const XMLElement& element, const char* name, std::optional<Unsigned> fallback = std::nullopt) {
  const char* text = element.Attribute(name);
  if (!text && fallback) return *fallback;
  if (!text) throw Malformed("its " + described(element) + " has no " + name);
  const std::optional<Unsigned> value = wholeNumber<Unsigned>(text);
  if (!value) {
    throw Malformed("its " + described(element) + " has " + name + "=" + quotedForRefusal(text) +
                    ", not a whole non-negative number in range");
  }
  return *value;
}

// The id a local reference "#id" names; a reference into another file is refused.
std::string referencedId(const XMLElement& element, const char* attribute) {
  const char* reference = element.Attribute(attribute);
  if (!reference || reference[0] != '#') {
    throw Malformed("its " + described(element) + " refers to " + quotedForRefusal(reference ? reference : "") +
                    ", which is not an element of this file");
  }
  return reference + 1;
}

const XMLElement* childWithId(const XMLElement& parent, const char* name, const std::string& id) {
  for (const XMLElement* child = parent.FirstChildElement(name); child; child = child->NextSiblingElement(name)) {
    const char* child_id = child->Attribute("id");
    if (child_id && id == child_id) return child;
  }
  return nullptr;
}

const XMLElement* inputWithSemantic(const XMLElement& parent, const char* semantic) {
  for (const XMLElement* input = parent.FirstChildElement("input"); input; input = input->NextSiblingElement("input")) {
    if (input->Attribute("semantic", semantic)) return input;
  }
  return nullptr;
}

// The x, y, z of every point the <vertices> element's POSITION source holds.
std::vector<double> positionsOf(const XMLElement& mesh, const XMLElement& vertices) {
  const XMLElement* input = inputWithSemantic(vertices, "POSITION");
  if (!input) throw Malformed("its " + described(vertices) + " has no POSITION input");
  const std::string source_id = referencedId(*input, "source");
  const XMLElement* source = childWithId(mesh, "source", source_id);
  if (!source) throw Malformed("its positions " + quotedForRefusal(source_id) + " are no <source> of their mesh");
  const XMLElement* array = source->FirstChildElement("float_array");
  const XMLElement* common = source->FirstChildElement("technique_common");
  const XMLElement* accessor = common ? common->FirstChildElement("accessor") : nullptr;
  if (!array || !accessor) throw Malformed("its " + described(*source) + " has no float_array with an accessor");
  const std::uint64_t declared = wholeAttribute(*array, "count");
  const std::vector<double> values = finiteNumbersIn(*array);
  if (values.size() != declared) {
    throw Malformed("its " + described(*array) + " declares " + std::to_string(declared) + " values but holds " +
                    std::to_string(values.size()));
  }
  const std::uint64_t count = wholeAttribute(*accessor, "count");
  const std::uint64_t stride = wholeAttribute(*accessor, "stride", std::optional<std::uint64_t>(1));
  const std::uint64_t offset = wholeAttribute(*accessor, "offset", std::optional<std::uint64_t>(0));
  if (stride < 3) throw Malformed("its positions' accessor has stride " + std::to_string(stride) + ", below 3");
  if (count > 0 &&
      (offset > values.size() || values.size() - offset < 3 || (values.size() - offset - 3) / stride < count - 1)) {
    throw Malformed("its positions' accessor reads past the end of " + described(*array));
  }
  std::vector<double> positions;
  positions.reserve(3 * count);
  for (std::uint64_t i = 0; i < count; ++i) {
    positions.insert(positions.end(), values.begin() + offset + i * stride, values.begin() + offset + i * stride + 3);
  }
  return positions;
}

// How a primitive's <p> lists interleave their indices: groups of `group`
// indices per corner, the vertex's at `vertex_offset` within each.
struct IndexLayout {
  std::uint64_t group = 1;
  std::uint64_t vertex_offset = 0;
};

IndexLayout indexLayoutOf(const XMLElement& primitive, const std::string& vertices_id) {
  IndexLayout layout;
  bool vertex_input_seen = false;
  for (const XMLElement* input = primitive.FirstChildElement("input"); input;
       input = input->NextSiblingElement("input")) {
    const std::uint64_t offset = wholeAttribute<std::uint32_t>(*input, "offset");
    layout.group = std::max<std::uint64_t>(layout.group, offset + 1);
    if (!input->Attribute("semantic", "VERTEX")) continue;
    if (referencedId(*input, "source") != vertices_id) {
      throw Malformed("its " + described(primitive) + " takes its vertices from elsewhere than its mesh's <vertices>");
    }
    layout.vertex_offset = offset;
    vertex_input_seen = true;
  }
  if (!vertex_input_seen) throw Malformed("its " + described(primitive) + " has no VERTEX input");
  return layout;
}

// The vertex indices of a <p> list's corners, each checked to name one of the mesh's vertices.
std::vector<unsigned int> cornersIn(const XMLElement& p, const IndexLayout& layout, size_t vertex_count) {
  std::vector<unsigned int> corners;
  std::uint64_t position = 0;
  forEachWord(p.GetText(), [&](std::string_view word) {
    const std::optional<std::uint64_t> index = wholeNumber<std::uint64_t>(word);
    if (!index) throw Malformed("its <p> holds " + quotedForRefusal(word) + ", not an index");
    if (position++ % layout.group != layout.vertex_offset) return;
    if (*index >= vertex_count) {
      throw Malformed("its <p> names vertex " + std::to_string(*index) + " of a mesh of " +
                      std::to_string(vertex_count));
    }
    corners.push_back(static_cast<unsigned int>(*index));
  });
  if (position % layout.group != 0) throw Malformed("its <p> ends within a corner's indices");
  return corners;
}

void requireCount(const XMLElement& primitive, std::uint64_t found, const char* what) {
  const std::uint64_t declared = wholeAttribute(primitive, "count");
  if (declared != found) {
    throw Malformed("its " + described(primitive) + " declares count " + std::to_string(declared) + " but holds " +
                    std::to_string(found) + " " + what);
  }
}

// Splits the corners into polygons of the <vcount> sizes and fans each.
void appendPolylist(const XMLElement& polylist, const std::vector<unsigned int>& corners,
                    std::vector<unsigned int>& triangles) {
  std::uint64_t polygons = 0;
  size_t next = 0;
  const XMLElement* vcount = polylist.FirstChildElement("vcount");
  forEachWord(vcount ? vcount->GetText() : nullptr, [&](std::string_view word) {
    const std::optional<std::uint64_t> size = wholeNumber<std::uint64_t>(word);
    if (!size) throw Malformed("its <vcount> holds " + quotedForRefusal(word) + ", not a corner count");
    if (*size > corners.size() - next) throw Malformed("its <vcount> counts more corners than its <p> holds");
    appendFan(std::vector<unsigned int>(corners.begin() + next, corners.begin() + next + *size), triangles);
    next += *size;
    ++polygons;
  });
  if (next != corners.size()) throw Malformed("its <p> holds more corners than its <vcount> counts");
  requireCount(polylist, polygons, "polygons");
}

// The triangles of one primitive element; lines and points give none.
void appendPrimitive(const XMLElement& primitive, const std::string& vertices_id, size_t vertex_count,
                     std::vector<unsigned int>& triangles) {
  const std::string_view kind = primitive.Name();
  const bool one_list = kind == "triangles" || kind == "polylist";
  const bool list_each = kind == "polygons" || kind == "trifans" || kind == "tristrips";
  if (!one_list && !list_each) return;
  if (primitive.FirstChildElement("ph")) throw Malformed("its " + described(primitive) + " has holes (<ph>)");
  const IndexLayout layout = indexLayoutOf(primitive, vertices_id);
  if (one_list) {
    const XMLElement* p = primitive.FirstChildElement("p");
    const std::vector<unsigned int> corners = p ? cornersIn(*p, layout, vertex_count) : std::vector<unsigned int>();
    if (kind == "polylist") return appendPolylist(primitive, corners, triangles);
    if (corners.size() % 3 != 0) throw Malformed("its <triangles> holds corners that are not whole triangles");
    requireCount(primitive, corners.size() / 3, "triangles");
    triangles.insert(triangles.end(), corners.begin(), corners.end());
    return;
  }
  std::uint64_t lists = 0;
  for (const XMLElement* p = primitive.FirstChildElement("p"); p; p = p->NextSiblingElement("p"), ++lists) {
    const std::vector<unsigned int> corners = cornersIn(*p, layout, vertex_count);
    (kind == "tristrips" ? appendStrip : appendFan)(corners, triangles);
  }
  requireCount(primitive, lists, kind == "polygons" ? "polygons" : kind == "trifans" ? "fans" : "strips");
}

// A geometry's own surface: its mesh's positions and triangles, in its own frame.
MeshSurface surfaceOf(const XMLElement& geometry) {
  const XMLElement* mesh = geometry.FirstChildElement("mesh");
  if (!mesh) return {};
  const XMLElement* vertices = mesh->FirstChildElement("vertices");
  const char* vertices_id = vertices ? vertices->Attribute("id") : nullptr;
  if (!vertices_id) throw Malformed("its " + described(geometry) + " has no <vertices> with an id");
  MeshSurface surface;
  surface.vertices = positionsOf(*mesh, *vertices);
  for (const XMLElement* primitive = mesh->FirstChildElement(); primitive;
       primitive = primitive->NextSiblingElement()) {
    appendPrimitive(*primitive, vertices_id, surface.vertices.size() / 3, surface.triangles);
  }
  return surface;
}

Eigen::Vector3d vectorOf(const std::vector<double>& numbers, size_t first = 0) {
  return Eigen::Vector3d(numbers[first], numbers[first + 1], numbers[first + 2]);
}

// The node's transform elements composed in the order written.
Eigen::Affine3d localPoseOf(const XMLElement& node) {
  Eigen::Affine3d pose = Eigen::Affine3d::Identity();
  for (const XMLElement* step = node.FirstChildElement(); step; step = step->NextSiblingElement()) {
    const std::string_view kind = step->Name();
    if (kind == "matrix") {
      const std::vector<double> rows = finiteNumbersIn(*step, 16);
      Eigen::Affine3d matrix = Eigen::Affine3d::Identity();
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) matrix(r, c) = rows[4 * r + c];
      }
      pose = pose * matrix;
    } else if (kind == "translate") {
      pose.translate(vectorOf(finiteNumbersIn(*step, 3)));
    } else if (kind == "scale") {
      pose.scale(vectorOf(finiteNumbersIn(*step, 3)));
    } else if (kind == "rotate") {
      const std::vector<double> axis_angle = finiteNumbersIn(*step, 4);
      const Eigen::Vector3d axis = vectorOf(axis_angle);
      if (!(axis.norm() > 0)) throw Malformed("its " + described(*step) + " turns about no axis");
      pose.rotate(Eigen::AngleAxisd(axis_angle[3] * M_PI / 180.0, axis.normalized()));
    } else if (kind == "lookat" || kind == "skew") {
      throw Malformed("its " + described(node) + " has a <" + std::string(kind) + "> transform, which is not read");
    }
  }
  return pose;
}

// Every <node> with an id below the element, nested ones too (XML nesting is
// bounded by the parser).
void collectNodes(const XMLElement& parent, std::map<std::string, const XMLElement*>& nodes) {
  for (const XMLElement* node = parent.FirstChildElement("node"); node; node = node->NextSiblingElement("node")) {
    if (const char* id = node->Attribute("id")) nodes.emplace(id, node);
    collectNodes(*node, nodes);
  }
}

class ColladaScene {
 public:
  ColladaScene(const XMLElement& root, SceneAssembly& assembly) : assembly_(assembly) {
    for (const XMLElement* library = root.FirstChildElement(); library; library = library->NextSiblingElement()) {
      const std::string_view kind = library->Name();
      if (kind == "library_geometries") {
        for (const XMLElement* geometry = library->FirstChildElement("geometry"); geometry;
             geometry = geometry->NextSiblingElement("geometry")) {
          geometries_.push_back(geometry);
        }
      } else if (kind == "library_nodes") {
        collectNodes(*library, nodes_);
      } else if (kind == "library_visual_scenes") {
        for (const XMLElement* scene = library->FirstChildElement("visual_scene"); scene;
             scene = scene->NextSiblingElement("visual_scene")) {
          visual_scenes_.push_back(scene);
          collectNodes(*scene, nodes_);
        }
      }
    }
    const XMLElement* scene = root.FirstChildElement("scene");
    const XMLElement* chosen = scene ? scene->FirstChildElement("instance_visual_scene") : nullptr;
    if (chosen) chosen_scene_id_ = referencedId(*chosen, "url");
  }

  void placeAll() {
    const XMLElement* scene = chosenVisualScene();
    if (!scene) {
      for (const XMLElement* geometry : geometries_) assembly_.place(surfaceOf(*geometry), Eigen::Affine3d::Identity());
      return;
    }
    for (const XMLElement* node = scene->FirstChildElement("node"); node; node = node->NextSiblingElement("node")) {
      placeNode(*node, Eigen::Affine3d::Identity(), 0);
    }
  }

 private:
  const XMLElement* chosenVisualScene() const {
    if (chosen_scene_id_.empty()) return visual_scenes_.empty() ? nullptr : visual_scenes_.front();
    for (const XMLElement* scene : visual_scenes_) {
      if (scene->Attribute("id", chosen_scene_id_.c_str())) return scene;
    }
    throw Malformed("its <scene> names the visual scene " + quotedForRefusal(chosen_scene_id_) + ", which it lacks");
  }

  const MeshSurface& geometryNamed(const std::string& id) {
    const auto read = read_geometries_.find(id);
    if (read != read_geometries_.end()) return read->second;
    for (const XMLElement* geometry : geometries_) {
      if (geometry->Attribute("id", id.c_str()))
        return read_geometries_.emplace(id, surfaceOf(*geometry)).first->second;
    }
    throw Malformed("it instances the geometry " + quotedForRefusal(id) + ", which it lacks");
  }

  void placeNode(const XMLElement& node, const Eigen::Affine3d& parent_pose, size_t depth) {
    assembly_.enterNode(depth);
    for (const XMLElement* ancestor : path_) {
      if (ancestor == &node) throw Malformed("its " + described(node) + " instances itself");
    }
    path_.push_back(&node);
    const Eigen::Affine3d pose = parent_pose * localPoseOf(node);
    for (const XMLElement* child = node.FirstChildElement(); child; child = child->NextSiblingElement()) {
      const std::string_view kind = child->Name();
      if (kind == "instance_geometry") {
        assembly_.place(geometryNamed(referencedId(*child, "url")), pose);
      } else if (kind == "instance_node") {
        const std::string id = referencedId(*child, "url");
        const auto named = nodes_.find(id);
        if (named == nodes_.end())
          throw Malformed("it instances the node " + quotedForRefusal(id) + ", which it lacks");
        placeNode(*named->second, pose, depth + 1);
      } else if (kind == "node") {
        placeNode(*child, pose, depth + 1);
      } else if (kind == "instance_controller") {
        // A skin's triangles sit where its joints pose them; placing its
        // geometry as if unskinned would be silently wrong.
        throw Malformed("its " + described(node) + " places a skinned or morphed mesh, which is not read");
      }
    }
    path_.pop_back();
  }

  SceneAssembly& assembly_;
  std::vector<const XMLElement*> geometries_;
  std::vector<const XMLElement*> visual_scenes_;
  std::map<std::string, const XMLElement*> nodes_;
  std::map<std::string, MeshSurface> read_geometries_;
  std::string chosen_scene_id_;
  std::vector<const XMLElement*> path_;  // the nodes being placed, to catch one instancing itself
};

// The root <asset>'s unit in metres (1 when it names none).
double unitOf(const XMLElement& root) {
  const XMLElement* asset = root.FirstChildElement("asset");
  const XMLElement* unit = asset ? asset->FirstChildElement("unit") : nullptr;
  const char* meter = unit ? unit->Attribute("meter") : nullptr;
  if (!meter) return 1.0;
  const std::optional<double> value = finiteNumber(meter);
  if (!value || !(*value >= kSmallestUnit && *value <= kLargestUnit)) {
    throw Malformed("its <unit meter=" + quotedForRefusal(meter) + "> is no length from 1e-9 to 1e6 metres");
  }
  return *value;
}

// Where a tag of the text has more attributes than kMostAttributes, if one
// has: the XML parser checks each attribute against those before it on its
// element, so a few such tags would take it minutes. Comments, CDATA and
// processing instructions are passed over; the parser judges the rest.
std::optional<size_t> tagOfTooManyAttributes(std::string_view data) {
  constexpr std::pair<std::string_view, std::string_view> kPassedOver[] = {
      {"<!--", "-->"}, {"<![CDATA[", "]]>"}, {"<?", "?>"}};
  for (size_t at = data.find('<'); at != std::string_view::npos; at = data.find('<', at + 1)) {
    bool passed_over = false;
    for (const auto& [open, close] : kPassedOver) {
      if (data.substr(at, open.size()) != open) continue;
      at = data.find(close, at + open.size());
      if (at == std::string_view::npos) return std::nullopt;
      passed_over = true;
      break;
    }
    if (passed_over) continue;
    const size_t tag = at;
    size_t attributes = 0;
    for (char quote = 0; at < data.size() && (quote || data[at] != '>'); ++at) {
      if (quote) {
        quote = data[at] == quote ? 0 : quote;
      } else if (data[at] == '"' || data[at] == '\'') {
        quote = data[at];
      } else if (data[at] == '=' && ++attributes > kMostAttributes) {
        return tag;
      }
    }
  }
  return std::nullopt;
}

}  // namespace

std::optional<MeshSurface> readCollada(std::string_view data, std::string& refusal) {
  if (const std::optional<size_t> tag = tagOfTooManyAttributes(data)) {
    refusal =
        "its tag at byte " + std::to_string(*tag) + " has more than " + std::to_string(kMostAttributes) + " attributes";
    return std::nullopt;
  }
  tinyxml2::XMLDocument document;
  if (document.Parse(data.data(), data.size()) != tinyxml2::XML_SUCCESS) {
    refusal = std::string("it is not well-formed XML (") + document.ErrorName() + " at line " +
              std::to_string(document.ErrorLineNum()) + ")";
    return std::nullopt;
  }
  const XMLElement* root = document.RootElement();
  if (!root || std::string_view(root->Name()) != "COLLADA") {
    refusal = "its root element is not <COLLADA>";
    return std::nullopt;
  }
  try {
    const double unit = unitOf(*root);
    SceneAssembly assembly(data.size());
    ColladaScene(*root, assembly).placeAll();
    return assembly.finish(unit);
  } catch (const Malformed& fault) {
    refusal = fault.what();
    return std::nullopt;
  }
}

}  // namespace internal
}  // namespace bramlock
