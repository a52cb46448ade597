#include "bramlock_arm_planning_core/planner/rrtc.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <sstream>
#include <string>
#include <utility>

#include "bramlock_arm_planning_core/logger.h"
#include "planner/rrt/console_lines.h"
#include "planner/rrt/joint_space.h"
#include "planner/rrt/path_simplifier.h"

using bramlock::internal::coloured;
using bramlock::internal::euclideanDistance;
using bramlock::internal::kCyan;
using bramlock::internal::kRed;
using bramlock::internal::kRedBackground;
using bramlock::internal::kYellow;
using bramlock::internal::motionAccepted;
using bramlock::internal::PathSimplifier;
using bramlock::internal::printLine;
using bramlock::internal::stateAccepted;
using bramlock::internal::uniformReal;

namespace {

constexpr int kMaxIterations = 10000;
constexpr std::int64_t kTimeOutSeconds = 15;
constexpr double kMinimumStepSize = 0.02;

// The engine of the random joint samples, shared by every planner of a thread
// and seeded once from the system random device.
std::mt19937& sampleEngine() {
  thread_local std::mt19937 engine = [] {
    std::random_device device("default");
    return std::mt19937(device());
  }();
  return engine;
}

template <typename Value>
std::string streamed(const Value& value) {
  std::ostringstream text;
  text << value;
  return text.str();
}

void printCostLine(std::chrono::steady_clock::time_point started, const std::string& ending) {
  const auto micros =
      std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started).count();
  printLine(coloured(kYellow, "Planning total cost: " + streamed(micros / 1000.0) + ending));
}

// Index of the first joint not inside its bounds (a value on a bound is
// inside; NaN is never inside), or -1.
int firstJointOutOfBounds(const std::vector<double>& state, const std::vector<std::pair<double, double>>& bounds) {
  for (std::size_t i = 0; i < bounds.size(); ++i) {
    if (!(state[i] >= bounds[i].first && state[i] <= bounds[i].second)) return static_cast<int>(i);
  }
  return -1;
}

// Index of the first joint whose bounds cannot be sampled: not finite, or so
// wide that distances between samples overflow; -1 when all can.
int firstUnsampleableBound(const std::vector<std::pair<double, double>>& bounds) {
  for (std::size_t i = 0; i < bounds.size(); ++i) {
    const double span = bounds[i].second - bounds[i].first;
    const bool finite = std::isfinite(bounds[i].first) && std::isfinite(bounds[i].second);
    if (!finite || !std::isfinite(span * span * static_cast<double>(bounds.size()))) return static_cast<int>(i);
  }
  return -1;
}

void printRangeLines(int joint, const std::pair<double, double>& bound) {
  printLine("range i is wrong: " + std::to_string(joint));
  printLine("range: " + streamed(bound.first) + ", " + streamed(bound.second));
}

}  // namespace

RRTConnect::RRTConnect(PlanSceneInterface* scene) : scene_(scene) {
  assert(scene_ != nullptr);
  dof_ = scene_->getPlanSpaceBounds(bounds_);
  simplifier_ = std::make_unique<PathSimplifier>(*scene_, dof_, bounds_);
}

RRTConnect::~RRTConnect() = default;

void RRTConnect::setStepSize(double step, bool relative) {
  maximum_extent_ = scene_->getMaximumExtent();
  step_size_ = relative ? step * maximum_extent_ : step;
  init_step_size_ = step_size_;
  min_step_size_ = kMinimumStepSize;
}

void RRTConnect::setStepSizeAndSampleRate(double step, int rate) {
  setStepSize(step, true);
  sample_rate_ = rate;
}

void RRTConnect::setStartAndGoal(std::vector<double> start, std::vector<double> goal) {
  start_node_ = std::make_unique<Node>(Node{std::move(start), nullptr});
  goal_node_ = std::make_unique<Node>(Node{std::move(goal), nullptr});
}

int RRTConnect::planning(Path& path) {
  last_search_iterations_ = 0;
  const int invalid = checkStartAndGoal();
  if (invalid != 0) return invalid;

  const auto started = Clock::now();
  const std::vector<double>& start = start_node_->state;
  const std::vector<double>& goal = goal_node_->state;
  if (isMotionValid(start, goal)) {
    path = {start, goal};
    printCostLine(started, "ms (direct)");
    return 0;
  }
  // A step that is not positive would never advance the trees (and the connect
  // loop, which has no count limit, would spin forever).
  if (!(step_size_ > 0.0)) {
    BRAMLOCK_ERROR("Step size {} is not positive, set it before planning", step_size_);
    return -1;
  }
  // Infinite bounds would make the sampler draw NaN.
  const int unsampleable = firstUnsampleableBound(bounds_);
  if (unsampleable >= 0) {
    BRAMLOCK_ERROR("Bounds of joint {} [{}, {}] cannot be sampled, planning needs finite bounds", unsampleable,
                   bounds_[unsampleable].first, bounds_[unsampleable].second);
    return -1;
  }

  // The search and every search that mends the path share one time budget.
  const auto deadline = Clock::now() + std::chrono::seconds(kTimeOutSeconds);
  Path found;
  const int searched = searchPath(started, deadline, nullptr, found);
  if (searched != 0) return searched;

  printLine("finish path_list built,  size:  " + std::to_string(found.size()));
  const Path searched_path = found;
  Simplify(found);
  awayFromObstacle(found);
  SimplifyAfter(found);
  int mended = mendPath(found, started, deadline);
  if (mended != 0) {
    // The search's own path, made of tree edges that passed their checks, is
    // the fallback when a piece of the processed one found no new path.
    printLine("Falling back to the path of the search");
    found = searched_path;
    collapseCloseVertices(found);
    mended = mendPath(found, started, deadline);
  }
  if (mended != 0) return mended;

  double length = 0.0;
  for (std::size_t i = 1; i < found.size(); ++i) length += distance(found[i - 1], found[i]);
  printLine("distance all: " + streamed(length));
  printLine("Step size is: " + streamed(step_size_));
  printCostLine(started, "ms");
  path = std::move(found);
  return 0;
}

// The end tests in their fixed order: sizes, start collision, goal collision,
// start bounds, goal bounds.
int RRTConnect::checkStartAndGoal() {
  const auto holds_dof_values = [this](const std::unique_ptr<Node>& node) {
    return node && static_cast<long long>(node->state.size()) == static_cast<long long>(dof_);
  };
  if (!holds_dof_values(start_node_) || !holds_dof_values(goal_node_)) {
    printLine(coloured(kRedBackground, " ERROR: Start point or goal point is invalid"));
    return -1;
  }
  // The scene reads one value per joint of the group it plans now; switched
  // to a larger group since, it would read past this planner's states.
  std::vector<std::pair<double, double>> current_bounds;
  const int scene_joints = scene_->getPlanSpaceBounds(current_bounds);
  if (scene_joints != dof_) {
    BRAMLOCK_ERROR("The scene plans {} joints now, this planner was made for {}", scene_joints, dof_);
    return -1;
  }
  const std::vector<double>& start = start_node_->state;
  const std::vector<double>& goal = goal_node_->state;
  if (!isStateValid(start)) {
    BRAMLOCK_ERROR("Start Point {} is in the obstacle", vectorToString(start.data(), dof_, ","));
    return -1;
  }
  if (!isStateValid(goal)) {
    BRAMLOCK_ERROR("Goal Point {} is in the obstacle", vectorToString(goal.data(), dof_, ","));
    return -2;
  }
  const int start_joint = firstJointOutOfBounds(start, bounds_);
  if (start_joint >= 0) {
    printRangeLines(start_joint, bounds_[start_joint]);
    printLine(coloured(kRedBackground, " ERROR: Start Point is out of the range"));
    return -3;
  }
  const int goal_joint = firstJointOutOfBounds(goal, bounds_);
  if (goal_joint >= 0) {
    printRangeLines(goal_joint, bounds_[goal_joint]);
    BRAMLOCK_ERROR(" Goal Point is out of the range");
    return -4;
  }
  return 0;
}

// The finished path as a caller re-checks it: every segment, and so every
// waypoint after the start, must pass checkMotion as it stands. The steps
// after the search can leave one that does not: a piece of a passed motion is
// tested at other states than the whole, and the clearance keeps or takes
// points on the simplify checker's word. Waypoints that fail the state check
// are left out and each failing piece is searched again between its ends.
int RRTConnect::mendPath(Path& path, Clock::time_point started, Clock::time_point deadline) {
  for (std::size_t i = 1; i < path.size();) {
    if (isMotionValid(path[i - 1], path[i])) {
      ++i;
      continue;
    }
    const std::size_t end = nextValidWaypoint(path, i);
    const std::string segment =
        std::to_string(i - 1) + " (waypoints " + std::to_string(i - 1) + " to " + std::to_string(end) + ")";
    printLine("Segment " + segment + " fails the motion check, searching it again");
    Path piece;
    const int searched = searchBetween(path[i - 1], path[end], started, deadline, piece);
    if (searched != 0) {
      printLine(coloured(kRed, " ERROR: No valid path found again for segment " + segment));
      return searched;
    }
    collapseCloseVertices(piece);
    path.erase(path.begin() + static_cast<std::ptrdiff_t>(i), path.begin() + static_cast<std::ptrdiff_t>(end) + 1);
    path.insert(path.begin() + static_cast<std::ptrdiff_t>(i), piece.begin() + 1, piece.end());
  }
  return 0;
}

// The first waypoint from the given one on that passes the state check; the
// ones before it are left out. The goal passed before the search, so it is
// the last one to look at.
std::size_t RRTConnect::nextValidWaypoint(const Path& path, std::size_t from) {
  std::size_t valid = from;
  for (; valid + 1 < path.size() && !isStateValid(path[valid]); ++valid) {
    printLine("Waypoint " + std::to_string(valid) + " fails the state check, leaving it out");
  }
  return valid;
}

// A search between two states of a path, in place of the planner's own start
// and goal. It draws from the planner's mending engine alone, so that mending
// a path leaves the draws of later plans as they would have been.
int RRTConnect::searchBetween(const std::vector<double>& from, const std::vector<double>& to, Clock::time_point started,
                              Clock::time_point deadline, Path& piece) {
  // The planner's own start and goal come back however the search ends.
  struct Restore {
    RRTConnect& planner;
    std::unique_ptr<Node> start;
    std::unique_ptr<Node> goal;
    ~Restore() {
      planner.start_node_ = std::move(start);
      planner.goal_node_ = std::move(goal);
    }
  } restore{*this, std::exchange(start_node_, std::make_unique<Node>(Node{from, nullptr})),
            std::exchange(goal_node_, std::make_unique<Node>(Node{to, nullptr}))};
  return searchPath(started, deadline, &mending_engine_, piece);
}

// Grows the trees from the roots and appends the joined branch to the path when they meet.
int RRTConnect::searchPath(Clock::time_point started, Clock::time_point deadline, std::mt19937* own_engine,
                           Path& path) {
  const int searched = searchTrees(started, deadline, own_engine);
  if (searched == 0) generatePath(path);
  releaseSearch();
  return searched;
}

// Grows the trees until they meet (0), the iterations run out (-5) or the time is up (-6).
// Samples come from the given engine alone, or (null) from the planner's usual draws.
int RRTConnect::searchTrees(Clock::time_point started, Clock::time_point deadline, std::mt19937* own_engine) {
  releaseSearch();
  tree_a_.push_back(start_node_.get());
  tree_b_.push_back(goal_node_.get());
  for (int iteration = 1; iteration <= kMaxIterations; ++iteration) {
    ++last_search_iterations_;
    if (Clock::now() > deadline) {
      printLine(coloured(kRed, " ERROR: Time out for " + std::to_string(kTimeOutSeconds) + "s ! "));
      printCostLine(started, "ms (timeout)");
      return -6;
    }
    const Node sample = own_engine != nullptr ? sampleFrom(*own_engine, own_engine) : sampleRandom();
    Node* new_a = extend(tree_a_, &sample);
    if (new_a == nullptr) continue;
    Node* new_b = extend(tree_b_, new_a);
    if (new_b == nullptr) continue;
    if (connect(new_b, new_a)) {
      printLine("reaches the goal!");
      return 0;
    }
    if (tree_a_.size() > tree_b_.size()) {
      printLine(coloured(kCyan, "Exchange two trees~"));
      tree_a_.swap(tree_b_);
    }
  }
  printCostLine(started, "ms (failed)");
  return -5;
}

// One step of the tree toward the target; the new node, or null when the step is blocked.
Node* RRTConnect::extend(std::vector<Node*>& tree, const Node* target) {
  const int nearest_index = getNearestNode(tree, target, dof_);
  assert(nearest_index >= 0 && "a tree always holds its root and distances are finite");
  Node* nearest = tree[nearest_index];
  Node* grown = steer(nearest, target, adaptiveStepSize(nearest, target), dof_);
  if (!isStateValid(grown->state) || !isMotionValid(nearest->state, grown->state)) return nullptr;
  tree.push_back(grown);
  return grown;
}

// Steps tree_b_ from the given node toward the target until a step is blocked
// (false) or the new node is close to the target and joined to it (true).
bool RRTConnect::connect(Node* from, const Node* target) {
  Node* current = from;
  while (true) {
    Node* next = steer(current, target, adaptiveStepSize(current, target), dof_);
    if (!isStateValid(next->state) || !isMotionValid(current->state, next->state)) return false;
    tree_b_.push_back(next);
    current = next;
    const bool joined = isMotionValid(target->state, next->state);
    bool close = true;
    for (int j = 0; j < dof_; ++j) close = close && std::fabs(next->state[j] - target->state[j]) < step_size_;
    if (close && joined) return true;
  }
}

Node RRTConnect::sampleRandom() { return sampleFrom(goal_engine_, nullptr); }

// A sample with the goal bias drawn from the first engine and the joints from
// the second, or from the shared sample engine when there is none.
Node RRTConnect::sampleFrom(std::mt19937& goal_engine, std::mt19937* joint_engine) {
  assert(goal_node_ && static_cast<int>(goal_node_->state.size()) >= dof_);
  if (sample_rate_ >= goal_distribution_(goal_engine)) {
    return Node{std::vector<double>(goal_node_->state.begin(), goal_node_->state.begin() + dof_), nullptr};
  }
  std::mt19937& engine = joint_engine != nullptr ? *joint_engine : sampleEngine();
  const auto draw = [&](int joint) { return uniformReal(engine, bounds_[joint].first, bounds_[joint].second); };
  std::vector<double> state(dof_);
  for (int j = 0; j < dof_; ++j) state[j] = draw(j);
  // Samples with the second joint at most 0.5 and the third at least -0.5 are
  // kept only one time in a thousand.
  const auto in_rare_region = [&] {
    return state[1] >= bounds_[1].first && state[1] <= 0.5 && state[2] >= -0.5 && state[2] <= bounds_[2].second;
  };
  if (dof_ >= 3) {
    while (in_rare_region() && uniformReal(engine, 0.0, 1.0) >= 0.001) {
      state[1] = draw(1);
      state[2] = draw(2);
    }
  }
  return Node{std::move(state), nullptr};
}

int RRTConnect::getNearestNode(const std::vector<Node*>& tree, const Node* node, int /*dof*/) const {
  int nearest = -1;
  double best = std::numeric_limits<double>::max();
  for (std::size_t i = 0; i < tree.size(); ++i) {
    double squared = 0.0;
    for (int j = 0; j < dof_; ++j) {
      const double difference = tree[i]->state[j] - node->state[j];
      squared += difference * difference;
    }
    if (squared < best) {
      best = squared;
      nearest = static_cast<int>(i);
    }
  }
  return nearest;
}

double RRTConnect::distance(const std::vector<double>& a, const std::vector<double>& b) const {
  return euclideanDistance(a, b);
}

double RRTConnect::adaptiveStepSize(const Node* from, const Node* to) {
  if (dof_ <= 0) return min_step_size_;
  const double dist = euclideanDistance(from->state, to->state, dof_);
  if (dist < 1e-10) return min_step_size_;
  const auto along = [&](double length) {
    std::vector<double> state(dof_);
    for (int j = 0; j < dof_; ++j) state[j] = from->state[j] + length * (to->state[j] - from->state[j]) / dist;
    return state;
  };
  const double step = std::min(init_step_size_, dist);
  if (isStateValid(along(step))) return step;
  // Bisect for a free length; stop early once a free one reaches the full step.
  double lo = 0.0;
  double hi = step;
  for (int i = 0; i < 4; ++i) {
    const double mid = (lo + hi) * 0.5;
    if (isStateValid(along(mid))) {
      lo = mid;
      if (step_size_ <= mid) break;
    } else {
      hi = mid;
    }
  }
  return std::max(lo * 0.8, min_step_size_);
}

Node* RRTConnect::steer(Node* from, const Node* to, double step, int /*dof*/) {
  const double dist = euclideanDistance(from->state, to->state, dof_);
  std::vector<double> state(to->state.begin(), to->state.begin() + dof_);
  if (step < dist) {
    for (int j = 0; j < dof_; ++j) state[j] = from->state[j] + step * (to->state[j] - from->state[j]) / dist;
  }
  return newNode(std::move(state), from);
}

std::vector<double> RRTConnect::interpolate(const std::vector<double>& a, const std::vector<double>& b,
                                            double t) const {
  return bramlock::internal::interpolate(a, b, t);
}

void RRTConnect::generatePath(Path& path) const {
  assert(!tree_a_.empty() && !tree_b_.empty());
  std::vector<const std::vector<double>*> joined;
  for (const Node* node = tree_a_.back(); node != nullptr; node = node->parent) joined.push_back(&node->state);
  std::reverse(joined.begin(), joined.end());
  for (const Node* node = tree_b_.back(); node != nullptr; node = node->parent) joined.push_back(&node->state);

  // After an odd number of tree exchanges tree_a_ is the goal tree.
  const std::vector<double>& first = *joined.front();
  const std::vector<double>& goal = goal_node_->state;
  bool starts_at_goal = first.size() >= goal.size();
  for (std::size_t j = 0; starts_at_goal && j < goal.size(); ++j) {
    starts_at_goal = std::fabs(first[j] - goal[j]) < std::numeric_limits<double>::epsilon();
  }
  if (starts_at_goal) std::reverse(joined.begin(), joined.end());

  for (std::size_t i = 0; i < joined.size(); ++i) {
    if (i > 0 && *joined[i] == *joined[i - 1]) continue;
    path.push_back(*joined[i]);
  }
}

Node* RRTConnect::newNode(std::vector<double> state, Node* parent) {
  search_nodes_.push_back(Node{std::move(state), parent});
  return &search_nodes_.back();
}

// Frees every node of the last search (the roots belong to the start and goal).
void RRTConnect::releaseSearch() {
  std::vector<Node*>().swap(tree_a_);
  std::vector<Node*>().swap(tree_b_);
  std::deque<Node>().swap(search_nodes_);
}

bool RRTConnect::isStateValid(const std::vector<double>& state) {
  return stateAccepted(*scene_, dof_, state, &PlanSceneInterface::isValid);
}

bool RRTConnect::isMotionValid(const std::vector<double>& from, const std::vector<double>& to) {
  return motionAccepted(*scene_, dof_, from, to, &PlanSceneInterface::checkMotion);
}

// Post-processing: the "Simplify" forms ask the scene's simplify checker, the
// others its regular one.

bool RRTConnect::Simplify(Path& path) { return simplifier_->simplify(path, &PlanSceneInterface::checkMotion); }

bool RRTConnect::SimplifyAfter(Path& path) {
  return simplifier_->simplifyAfter(path, &PlanSceneInterface::checkMotionSimplify);
}

bool RRTConnect::shortcutPath(Path& path, double range_ratio, double snap_ratio) {
  return simplifier_->shortcut(path, range_ratio, snap_ratio, &PlanSceneInterface::checkMotion);
}

bool RRTConnect::shortcutPathSimplify(Path& path, double range_ratio, double snap_ratio) {
  return simplifier_->shortcut(path, range_ratio, snap_ratio, &PlanSceneInterface::checkMotionSimplify);
}

bool RRTConnect::reduceVertices(Path& path, double range_ratio) {
  return simplifier_->reduceVertices(path, range_ratio, &PlanSceneInterface::checkMotion);
}

bool RRTConnect::reduceVerticesSimplify(Path& path, double range_ratio) {
  return simplifier_->reduceVertices(path, range_ratio, &PlanSceneInterface::checkMotionSimplify);
}

bool RRTConnect::collapseCloseVertices(Path& path) {
  return simplifier_->collapseCloseVertices(path, &PlanSceneInterface::checkMotion);
}

void RRTConnect::subdivide(Path& path) const { PathSimplifier::subdivide(path); }

void RRTConnect::smoothBSpline(Path& path, int passes, double /*unused*/) {
  simplifier_->smoothBSpline(path, passes, &PlanSceneInterface::checkMotion);
}

bool RRTConnect::awayFromObstacle(Path& path) { return simplifier_->awayFromObstacle(path); }

void RRTConnect::ntimesdivide(Path& path) const { PathSimplifier::ntimesdivide(path); }
