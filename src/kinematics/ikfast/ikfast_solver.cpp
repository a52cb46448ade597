#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_solver.h"

#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_rev5u800.h"

bool IkfastSolver::ikfastComputeIk(const Eigen::MatrixXd& pose, std::vector<std::vector<double>>& solutions) {
  if (pose.rows() < 3 || pose.cols() < 4) return false;
  std::vector<double> free_values(GetNumFreeParameters());
  const double eetrans[3] = {pose(0, 3), pose(1, 3), pose(2, 3)};
  const double eerot[9] = {pose(0, 0), pose(0, 1), pose(0, 2), pose(1, 0), pose(1, 1),
                           pose(1, 2), pose(2, 0), pose(2, 1), pose(2, 2)};
  ikfast::IkSolutionList<double> found;
  const bool solved = ComputeIk(eetrans, eerot, free_values.empty() ? nullptr : free_values.data(), found);
  std::vector<double> values(GetNumJoints());
  solutions.reserve(solutions.size() + found.GetNumSolutions());
  for (size_t i = 0; i < found.GetNumSolutions(); ++i) {
    found.GetSolution(i).GetSolution(values.data(), free_values.empty() ? nullptr : free_values.data());
    solutions.push_back(values);
  }
  return solved;
}
