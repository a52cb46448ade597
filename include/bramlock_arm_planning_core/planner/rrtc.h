#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"

namespace bramlock::internal {
class PathSimplifier;
}

// One tree node: a joint state and the node it was grown from (null for a
// root and for a sample).
struct BRAMLOCK_EXPORT Node {
  std::vector<double> state;
  Node* parent = nullptr;
};

// The first n values joined by the separator, in default stream formatting.
template <typename Pointer>
std::string vectorToString(Pointer values, int n, const std::string& separator) {
  std::ostringstream text;
  for (int i = 0; i < n; ++i) {
    if (i > 0) text << separator;
    text << values[i];
  }
  return text.str();
}

// Bidirectional RRT (RRT-Connect) in the joint space of the scene's planned
// group, followed by path simplification and clearance from obstacles.
// Reference: J. J. Kuffner and S. M. LaValle, "RRT-Connect: An efficient
// approach to single-query path planning", IEEE ICRA, 2000.
//
// The planner owns every node it makes. Search nodes live in an arena that is
// emptied when a search ends, so a node returned by steer() stays valid only
// until the next planning() call. Not copyable: the trees point into the arena.
class BRAMLOCK_EXPORT RRTConnect {
 public:
  using Path = std::vector<std::vector<double>>;

  // Reads the scene's plan-space bounds; the scene must outlive the planner.
  explicit RRTConnect(PlanSceneInterface* scene);
  ~RRTConnect();
  RRTConnect(const RRTConnect&) = delete;
  RRTConnect& operator=(const RRTConnect&) = delete;

  // The step in radians, or relative to the scene's maximum extent.
  void setStepSize(double step, bool relative);
  // The step relative to the scene's maximum extent, and the goal-bias threshold.
  void setStepSizeAndSampleRate(double step, int rate);
  void setStartAndGoal(std::vector<double> start, std::vector<double> goal);

  // Searches a path from start to goal. Returns 0 and assigns the path, or a
  // negative code (-1 to -6) and leaves the path untouched. An assigned path
  // passes the scene's isValid at every waypoint and checkMotion from each
  // waypoint to the next: a piece that the post-processing leaves failing is
  // searched again, else the search's own path is mended, within the same
  // 15 s; without a sound path the code is -5 or -6. The scene's state
  // check comes first: a start or goal it rejects gives -1 or -2, whatever
  // the reason (a NaN or out-of-bounds value included); one it accepts with a
  // value not inside the planner's bounds (NaN included) gives -3 or -4.
  // Bounds that are not finite, or too wide to measure distances in, give -1
  // before sampling. So does a scene that now plans another joint count than
  // at construction.
  int planning(Path& path);

  // A random joint state in the bounds, or (rarely, see the goal bias) the goal.
  Node sampleRandom();
  // Index of the first node nearest to the given one, -1 for an empty tree.
  // The joint count used is the planner's own; the last argument is ignored.
  int getNearestNode(const std::vector<Node*>& tree, const Node* node, int dof) const;
  // Euclidean distance over the entries of the first vector.
  double distance(const std::vector<double>& a, const std::vector<double>& b) const;
  // Step length (radians) to take from one node toward another, never below
  // the minimum step.
  double adaptiveStepSize(const Node* from, const Node* to);
  // A new node one step (radians) from the source toward the target, or on
  // the target when the step reaches it. The last argument is ignored.
  Node* steer(Node* from, const Node* to, double step, int dof);
  // a + t (b - a), entry by entry.
  std::vector<double> interpolate(const std::vector<double>& a, const std::vector<double>& b, double t) const;
  // Appends the branch that joins the two met trees, start first.
  void generatePath(Path& path) const;

  // Path simplification. The first and last points never change; a step
  // returns true when it changed the path. The "Simplify" forms ask the
  // scene's simplify checker, the others its regular one.
  bool Simplify(Path& path);
  bool SimplifyAfter(Path& path);
  bool shortcutPath(Path& path, double range_ratio, double snap_ratio);
  bool shortcutPathSimplify(Path& path, double range_ratio, double snap_ratio);
  bool reduceVertices(Path& path, double range_ratio);
  bool reduceVerticesSimplify(Path& path, double range_ratio);
  bool collapseCloseVertices(Path& path);
  void subdivide(Path& path) const;
  void smoothBSpline(Path& path, int passes, double /*unused*/);

  // Clearance: densifies the path and moves interior points that the simplify
  // checker rejects by at most 0.2 rad per joint. False for a path of at most
  // two points or when some point found no acceptable new position.
  bool awayFromObstacle(Path& path);
  // Cuts every segment longer than a sixth of the path into equal pieces.
  void ntimesdivide(Path& path) const;

  // Iterations of the tree searches of the last planning call (0 when none ran); for benchmarks.
  int lastSearchIterations() const { return last_search_iterations_; }

 private:
  using Clock = std::chrono::steady_clock;

  int checkStartAndGoal();
  int mendPath(Path& path, Clock::time_point started, Clock::time_point deadline);
  std::size_t nextValidWaypoint(const Path& path, std::size_t from);
  int searchBetween(const std::vector<double>& from, const std::vector<double>& to, Clock::time_point started,
                    Clock::time_point deadline, Path& piece);
  int searchPath(Clock::time_point started, Clock::time_point deadline, std::mt19937* own_engine, Path& path);
  int searchTrees(Clock::time_point started, Clock::time_point deadline, std::mt19937* own_engine);
  Node sampleFrom(std::mt19937& goal_engine, std::mt19937* joint_engine);
  Node* extend(std::vector<Node*>& tree, const Node* target);
  bool connect(Node* from, const Node* target);
  Node* newNode(std::vector<double> state, Node* parent);
  void releaseSearch();
  // The search asks the scene's regular checker only.
  bool isStateValid(const std::vector<double>& state);
  bool isMotionValid(const std::vector<double>& from, const std::vector<double>& to);

  std::unique_ptr<Node> start_node_;
  std::unique_ptr<Node> goal_node_;
  std::vector<Node*> tree_a_;
  std::vector<Node*> tree_b_;
  double step_size_ = 0.0;
  int sample_rate_ = 0;
  std::mt19937 goal_engine_;  // default seed 5489
  std::uniform_int_distribution<int> goal_distribution_{0, 2147483647};
  PlanSceneInterface* scene_;
  int dof_ = 0;
  std::vector<std::pair<double, double>> bounds_;
  double maximum_extent_ = 0.0;
  double min_step_size_ = 0.02;
  double init_step_size_ = 0.0;
  std::deque<Node> search_nodes_;
  int last_search_iterations_ = 0;
  std::mt19937 mending_engine_;  // default seed 5489; the searches that mend a path draw from it alone
  std::unique_ptr<bramlock::internal::PathSimplifier> simplifier_;
};
