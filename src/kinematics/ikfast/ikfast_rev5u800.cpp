#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_rev5u800.h"

#include <algorithm>
#include <limits>

#include "common/value_checks.h"
#include "rev5u800_chain.h"
#include "wrist_circle_solver.h"

void ComputeFk(const double* j, double* eetrans, double* eerot) {
  const bramlock::internal::rev5u800::Pose pose =
      bramlock::internal::rev5u800::forwardKinematics({j[0], j[1], j[2], j[3], j[4], j[5]});
  for (int row = 0; row < 3; ++row) {
    eetrans[row] = pose.position[row];
    for (int column = 0; column < 3; ++column) eerot[3 * row + column] = pose.rotation(row, column);
  }
}

bool ComputeIk(const double* eetrans, const double* eerot, const double* pfree,
               ikfast::IkSolutionListBase<double>& solutions) {
  IKSolver solver;
  return solver.ComputeIk(eetrans, eerot, pfree, solutions);
}

bool ComputeIk2(const double* eetrans, const double* eerot, const double* pfree,
                ikfast::IkSolutionListBase<double>& solutions, void* /*pOpenRAVEManip*/) {
  return ComputeIk(eetrans, eerot, pfree, solutions);
}

int GetNumFreeParameters() { return 0; }
int* GetFreeIndices() { return nullptr; }
int GetNumJoints() { return 6; }
int GetIkRealSize() { return sizeof(double); }
int GetIkType() { return 0x67000001; }
const char* GetKinematicsHash() {
  return "<robot:GenericRobot - RAV5-A800-Z4O3V4I (b56955cc35b932c68ee25ee83e704a6b)>";
}
const char* GetIkFastVersion() { return "0x1000004b"; }

bool IKSolver::ComputeIk(const double* eetrans, const double* eerot, const double* /*pfree*/,
                         ikfast::IkSolutionListBase<double>& solutions) {
  std::fill(std::begin(j), std::end(j), std::numeric_limits<double>::quiet_NaN());
  for (int joint = 0; joint < 6; ++joint) {
    _ij[joint][0] = _ij[joint][1] = 255;
    _nj[joint] = 255;
  }
  solutions.Clear();
  if (eetrans == nullptr || eerot == nullptr) return false;
  if (!bramlock::internal::allFinite(eetrans, 3) || !bramlock::internal::allFinite(eerot, 9)) return false;
  std::copy(eerot, eerot + 9, r);
  std::copy(eetrans, eetrans + 3, p);
  bramlock::internal::rev5u800::Pose target;
  target.rotation << r[0], r[1], r[2], r[3], r[4], r[5], r[6], r[7], r[8];
  target.position << p[0], p[1], p[2];
  const std::vector<bramlock::internal::rev5u800::Joints> found = bramlock::internal::rev5u800::solveAll(target);
  // Joint 1 carries the branch number; the other joints have one branch each.
  const unsigned char branch_count = static_cast<unsigned char>(
      std::max<size_t>(bramlock::internal::rev5u800::kMaxSolutions, std::min<size_t>(found.size(), 254)));
  std::vector<ikfast::IkSingleDOFSolutionBase<double>> vinfos(6);
  for (size_t branch = 0; branch < found.size() && branch < branch_count; ++branch) {
    std::copy(found[branch].begin(), found[branch].end(), j);
    addSolution(static_cast<unsigned char>(branch), branch_count, vinfos, solutions);
  }
  return solutions.GetNumSolutions() > 0;
}

void IKSolver::addSolution(unsigned char branch, unsigned char branch_count,
                           std::vector<ikfast::IkSingleDOFSolutionBase<double>>& vinfos,
                           ikfast::IkSolutionListBase<double>& solutions) {
  for (int joint = 0; joint < 6; ++joint) {
    _nj[joint] = joint == 0 ? branch_count : 1;
    _ij[joint][0] = joint == 0 ? branch : 0;
    _ij[joint][1] = 255;
    vinfos[joint].jointtype = 0x01;
    vinfos[joint].foffset = j[joint];
    vinfos[joint].indices[0] = _ij[joint][0];
    vinfos[joint].indices[1] = _ij[joint][1];
    vinfos[joint].maxsolutions = _nj[joint];
  }
  solutions.AddSolution(vinfos, std::vector<int>());
}
