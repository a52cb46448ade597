#pragma once

#include <cstddef>
#include <sstream>
#include <string>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/toppra.h"

namespace toppra {

// Turns a geometric path and linear constraints into a squared path speed
// x_i = (ds/dt)^2 at every grid point s_i: a backward pass builds the
// controllable set of x at each point, a forward pass picks, step by step, the
// greatest x reachable from the previous one inside those sets.
// Reference: H. Pham and Q.-C. Pham, "A New Approach to Time-Optimal Path
// Parameterization Based on Reachability Analysis", IEEE Transactions on
// Robotics 34(3), 2018.
//
// The result is feasible, and greatest at each step given the previous one. It
// is not in general the greatest feasible profile: where a joint's path
// velocity is small against 2 ds times its path acceleration, the greatest
// reachable next speed falls as the current one rises, and a slower profile
// can end up faster overall (a few per cent on such paths). On straight lines
// and gently bending paths the greedy choice is the greatest one.
//
// A run whose path speed stays zero over a whole stage (zero velocity or
// acceleration limits, for one) never ends and is a failure. A zero at a
// single inner grid point, with the stages around it moving, is a finite
// trajectory and a success: the greedy forward pass gives such zeros on
// splines at rest at both ends, and ConstAccel::validate() is false for them.
class BRAMLOCK_EXPORT PathParametrizationAlgorithm {
 public:
  enum ReturnCode : int {
    Success = 0,
    ControllableSetsFailed = 2,
    ForwardPassFailed = 3,
    NotComputed = 4,
    FeasibleSetsFailed = 5,
  };

  PathParametrizationAlgorithm(LinearConstraintPtrs constraints, const GeometricPathPtr& path);

  // The whole run from the squared path speed at the start and the path speed
  // at the end; the code is also kept as getReturnCode(), the reason of a
  // failure in getMessages(). A constraint whose joint count differs from the
  // path's, or an end speed that is not finite, gives ControllableSetsFailed;
  // a start speed that is not finite, a result that is not finite or one that
  // stays at zero speed from one grid point to the next ForwardPassFailed.
  // A path whose evaluation throws lets its exception through, and a path
  // whose values at a grid point are not finite throws as initialize() says.
  virtual int computePathParametrization(value_type squaredStartSpeed, value_type endSpeed);
  virtual ~PathParametrizationAlgorithm();
  // Prepares grid, result storage and solver; does nothing further until the
  // grid, N or the solver change. A path whose position, first or second
  // derivative at a grid point is NaN or infinite throws std::runtime_error
  // "Path evaluation gave values that are not finite.", whichever of them the
  // constraints read, if any; otherwise a constraint whose joint count differs
  // from the path's throws std::invalid_argument.
  virtual void initialize();
  // Fills the parametrization from x_0 = squaredStartSpeed; 0 or 3.
  // Precondition: initialize() has run since the grid, N or the solver last
  // changed; a call before it ends the process by assertion.
  virtual int computeForwardPass(value_type squaredStartSpeed) = 0;

  // Installs a user grid; throws std::invalid_argument (and changes nothing)
  // when it is empty, does not span the path interval or is not strictly
  // increasing. N becomes its size - 1.
  void setGridpoints(const Vector& gridpoints);
  // Backward pass from the end speeds [vel_ends[0], vel_ends[1]]; 0 or 2.
  // Precondition as for computeForwardPass: a call before initialize() ends
  // the process by assertion.
  int computeControllableSets(const Bound& vel_ends);
  // Feasible set of every grid point; 0 or 5 (also for a constraint whose
  // joint count differs from the path's); leaves getReturnCode() alone. Path
  // values that are not finite throw as in initialize().
  int computeFeasibleSets();

  const Vector& getGridpoints() const { return m_gridpoints; }
  const Vector& getParametrization() const { return m_parametrization; }
  const Matrix& getControllableSets() const { return m_controllableSets; }
  const Matrix& getFeasibleSets() const { return m_feasibleSets; }
  int getReturnCode() const { return m_returnCode; }
  // Failure reports of the last run.
  std::string getMessages() const { return m_messages.str(); }
  int getN() const { return N; }
  const SolverPtr& getSolver() const { return m_solver; }
  // A new N or solver requires a new initialize(). A negative N throws
  // std::invalid_argument.
  void setN(int stages);
  void setSolver(SolverPtr solver);

 protected:
  // Appends the report of an infeasible stage to m_messages.
  void reportFailure(const std::string& what, std::size_t i, const char* costName, const Vector& cost, const Bound& x,
                     const Bound& xNext);

  LinearConstraintPtrs m_constraints;
  GeometricPathPtr m_path;
  SolverPtr m_solver;
  std::stringstream m_messages;
  Vector m_gridpoints;
  Vector m_parametrization;
  Matrix m_controllableSets;
  Matrix m_feasibleSets;
  int m_returnCode = NotComputed;
  int N = 100;
  bool m_initialized = false;
  Bound m_xBoundInit = Bound(0, 100);

 private:
  // initialize(), with a constraint that does not fit the path reported in
  // the messages (false) instead of thrown.
  bool initializeOrReport();
  // Solves stage i for the greatest and the least x; false after reporting
  // the failure when either programme is infeasible.
  bool solveExtremes(std::size_t i, const Bound& x, const Bound& xNext, const char* setName, Vector& solution,
                     value_type& lower, value_type& upper);
};

}  // namespace toppra
