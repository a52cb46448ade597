#pragma once

// Closed-form Transform6D inverse kinematics of the RAV5-A800-Z4O3V4I (REV5-U800)
// arm, with the entry functions and solution containers of the ikfast
// convention. The tool point lies 0.1035 beyond the wrist along the flange z
// axis. Poses: eetrans = (x, y, z) in metres, eerot = the rotation matrix in
// row-major order; joint arrays hold six radians, joint 1 first.

#include <cmath>
#include <cstdint>
#include <iostream>
#include <list>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/export.h"

// Internal checks of the solver throw instead of aborting: a failed check is
// bad input data, which the caller may want to survive.
#define IKFAST_ASSERT(condition)                                                                                   \
  do {                                                                                                             \
    if (!(condition)) {                                                                                            \
      std::ostringstream ikfast_message;                                                                           \
      ikfast_message << "ikfast exception: " << __FILE__ << ":" << __LINE__ << ": " << __func__ << ": Assertion '" \
                     << #condition << "' failed";                                                                  \
      throw std::runtime_error(ikfast_message.str());                                                              \
    }                                                                                                              \
  } while (false)

#define IKFAST_SINCOS_THRESH ((double)1e-7)
#define IKFAST_ATAN2_MAGTHRESH ((double)1e-7)

namespace ikfast {

// One joint's part of a solution: value = freevalue * fmul + foffset when a free
// parameter is used, else foffset.
template <typename T>
class BRAMLOCK_EXPORT IkSingleDOFSolutionBase {
 public:
  IkSingleDOFSolutionBase() {
    for (unsigned char& index : indices) index = 255;
  }
  virtual ~IkSingleDOFSolutionBase() = default;

  T fmul = 0;
  T foffset = 0;
  signed char freeind = -1;        // free parameter index, -1 for none
  unsigned char jointtype = 0x01;  // 0x01 revolute, otherwise prismatic
  unsigned char maxsolutions = 0;  // branches of this joint; 255 = not set
  unsigned char indices[5];        // branch indices; 255 = none

  virtual void Print() const {
    std::cout << "(" << (jointtype == 0x01 ? "R" : "P") << ", " << static_cast<int>(freeind) << "), (" << foffset
              << ", " << fmul << "), " << static_cast<unsigned int>(maxsolutions) << " (";
    for (unsigned char index : indices) std::cout << static_cast<unsigned int>(index) << ", ";
    std::cout << ") " << std::endl;
  }
};

template <typename T>
class BRAMLOCK_EXPORT IkSolutionBase {
 public:
  virtual ~IkSolutionBase() = default;
  virtual void GetSolution(T* solution, const T* freevalues) const = 0;
  virtual void GetSolution(std::vector<T>& solution, const std::vector<T>& freevalues) const {
    solution.resize(GetDOF());
    GetSolution(&solution.at(0), freevalues.empty() ? nullptr : &freevalues.at(0));
  }
  virtual const std::vector<int>& GetFree() const = 0;
  virtual int GetDOF() const = 0;
  // Throws std::runtime_error for an entry whose branch data or value is inconsistent.
  virtual void Validate() const = 0;
  // The branch numbers this solution stands for; returns their count.
  virtual int GetSolutionIndices(std::vector<unsigned int>& v) const = 0;
  virtual void Print() const = 0;
};

template <typename T>
class BRAMLOCK_EXPORT IkSolution : public IkSolutionBase<T> {
 public:
  IkSolution(const std::vector<IkSingleDOFSolutionBase<T>>& vinfos, const std::vector<int>& vfree)
      : _vbasesol(vinfos), _vfree(vfree) {}

  void GetSolution(T* solution, const T* freevalues) const override {
    for (size_t i = 0; i < _vbasesol.size(); ++i) {
      const IkSingleDOFSolutionBase<T>& info = _vbasesol[i];
      if (info.freeind < 0) {
        solution[i] = info.foffset;
        continue;
      }
      solution[i] = freevalues[info.freeind] * info.fmul + info.foffset;
      while (solution[i] > kPi) solution[i] -= 2 * kPi;
      while (solution[i] <= -kPi) solution[i] += 2 * kPi;
    }
  }
  void GetSolution(std::vector<T>& solution, const std::vector<T>& freevalues) const override {
    IkSolutionBase<T>::GetSolution(solution, freevalues);
  }
  const std::vector<int>& GetFree() const override { return _vfree; }
  int GetDOF() const override { return static_cast<int>(_vbasesol.size()); }

  void Validate() const override {
    for (size_t i = 0; i < _vbasesol.size(); ++i) {
      const IkSingleDOFSolutionBase<T>& info = _vbasesol[i];
      const std::string joint = std::to_string(i);
      if (info.maxsolutions == 255) {
        throw std::runtime_error("max solutions for joint " + joint + "not initialized");
      }
      if (info.maxsolutions > 0) {
        if (info.indices[0] >= info.maxsolutions) {
          throw std::runtime_error("index >= max solutions for joint " + joint);
        }
        if (info.indices[1] != 255 && info.indices[1] >= info.maxsolutions) {
          throw std::runtime_error("2nd index >= max solutions for joint " + joint);
        }
      }
      if (!std::isfinite(info.foffset)) {
        throw std::runtime_error("foffset for joint " + joint + " was not finite");
      }
    }
  }

  int GetSolutionIndices(std::vector<unsigned int>& v) const override {
    v.assign(1, 0);
    for (int i = static_cast<int>(_vbasesol.size()) - 1; i >= 0; --i) {
      const IkSingleDOFSolutionBase<T>& info = _vbasesol[i];
      if (info.maxsolutions < 2 || info.maxsolutions == 255) continue;
      const size_t earlier = v.size();
      for (unsigned int& entry : v) entry *= info.maxsolutions;
      if (info.indices[1] != 255) {
        for (size_t j = 0; j < earlier; ++j) v.push_back(v[j] + info.indices[1]);
      }
      if (info.indices[0] != 255) {
        for (size_t j = 0; j < earlier; ++j) v[j] += info.indices[0];
      }
    }
    return static_cast<int>(v.size());
  }

  void Print() const override {
    for (size_t i = 0; i < _vbasesol.size(); ++i) {
      std::cout << i << ": ";
      _vbasesol[i].Print();
    }
    if (!_vfree.empty()) {
      std::cout << "vfree = ";
      for (int index : _vfree) std::cout << index << ", ";
      std::cout << std::endl;
    }
  }

  std::vector<IkSingleDOFSolutionBase<T>> _vbasesol;
  std::vector<int> _vfree;

 private:
  static constexpr T kPi = 3.141592653589793;
};

template <typename T>
class BRAMLOCK_EXPORT IkSolutionListBase {
 public:
  virtual ~IkSolutionListBase() = default;
  // Appends a solution and returns its index.
  virtual size_t AddSolution(const std::vector<IkSingleDOFSolutionBase<T>>& vinfos, const std::vector<int>& vfree) = 0;
  virtual const IkSolutionBase<T>& GetSolution(size_t index) const = 0;
  virtual size_t GetNumSolutions() const = 0;
  virtual void Clear() = 0;
  virtual void Print() const = 0;
};

template <typename T>
class BRAMLOCK_EXPORT IkSolutionList : public IkSolutionListBase<T> {
 public:
  size_t AddSolution(const std::vector<IkSingleDOFSolutionBase<T>>& vinfos, const std::vector<int>& vfree) override {
    const size_t index = _listsolutions.size();
    _listsolutions.emplace_back(vinfos, vfree);
    return index;
  }

  // Throws std::runtime_error "GetSolution index is invalid" past the end.
  const IkSolution<T>& GetSolution(size_t index) const override {
    if (index >= _listsolutions.size()) throw std::runtime_error("GetSolution index is invalid");
    auto it = _listsolutions.begin();
    std::advance(it, index);
    return *it;
  }
  size_t GetNumSolutions() const override { return _listsolutions.size(); }
  void Clear() override { _listsolutions.clear(); }

  void Print() const override {
    size_t i = 0;
    for (const IkSolution<T>& solution : _listsolutions) {
      std::cout << "Solution " << i++ << ":" << std::endl;
      std::cout << "===========" << std::endl;
      solution.Print();
    }
  }

 protected:
  std::list<IkSolution<T>> _listsolutions;
};

}  // namespace ikfast

// The solver's own angle constants (15 significant digits).
constexpr double IKPI = 3.14159265358979;
constexpr double IK2PI = 6.28318530717959;
constexpr double IKPI_2 = 1.5707963267949;

// A value with a validity flag.
template <typename T>
struct BRAMLOCK_EXPORT CheckValue {
  T value;
  bool valid;
};

// atan2 that tolerates one NaN argument: y NaN gives pi/2, x NaN gives 0; two NaNs throw.
inline double IKatan2(double fy, double fx) {
  using std::isnan;  // unqualified, so the assertion text reads "!isnan(fx)"
  if (isnan(fy)) {
    IKFAST_ASSERT(!isnan(fx));
    return IKPI_2;
  }
  if (std::isnan(fx)) return 0;
  return std::atan2(fy, fx);
}

// atan2 that reports an undefined angle (NaN input, or both arguments near zero) as invalid.
inline CheckValue<double> IKatan2WithCheck(double fy, double fx) {
  if (std::isnan(fy) || std::isnan(fx)) return {0, false};
  if (std::fabs(fy) < IKFAST_ATAN2_MAGTHRESH && std::fabs(fx) <= IKFAST_ATAN2_MAGTHRESH) return {0, false};
  return {std::atan2(fy, fx), true};
}

// Arc cosine clamped to [-1, 1]; arguments beyond 1 + 1e-7 in magnitude throw.
inline double IKacos(double f) {
  IKFAST_ASSERT(f > -1 - IKFAST_SINCOS_THRESH && f < 1 + IKFAST_SINCOS_THRESH);
  if (f <= -1) return IKPI;
  if (f >= 1) return 0;
  return std::acos(f);
}

// Forward kinematics of the chain: tool-point position and row-major rotation.
BRAMLOCK_EXPORT void ComputeFk(const double* j, double* eetrans, double* eerot);

// All solutions of a Transform6D pose (at most 16, each joint within [-pi, pi]);
// pfree is not read. Clears the list first; true when a solution was added
// (false for null pointers and for values that are not finite).
BRAMLOCK_EXPORT bool ComputeIk(const double* eetrans, const double* eerot, const double* pfree,
                               ikfast::IkSolutionListBase<double>& solutions);
// As ComputeIk; the last argument is not read.
BRAMLOCK_EXPORT bool ComputeIk2(const double* eetrans, const double* eerot, const double* pfree,
                                ikfast::IkSolutionListBase<double>& solutions, void* pOpenRAVEManip);

BRAMLOCK_EXPORT int GetNumFreeParameters();
BRAMLOCK_EXPORT int* GetFreeIndices();
BRAMLOCK_EXPORT int GetNumJoints();
BRAMLOCK_EXPORT int GetIkRealSize();
BRAMLOCK_EXPORT int GetIkType();
BRAMLOCK_EXPORT const char* GetKinematicsHash();
BRAMLOCK_EXPORT const char* GetIkFastVersion();

// Solver state of one call.
class BRAMLOCK_EXPORT IKSolver {
 public:
  bool ComputeIk(const double* eetrans, const double* eerot, const double* pfree,
                 ikfast::IkSolutionListBase<double>& solutions);

 private:
  // Adds the joint values in j as one solution, joint 1 on the given branch;
  // vinfos (six entries) is the caller's scratch space, reused across solutions.
  void addSolution(unsigned char branch, unsigned char branch_count,
                   std::vector<ikfast::IkSingleDOFSolutionBase<double>>& vinfos,
                   ikfast::IkSolutionListBase<double>& solutions);

  double j[6] = {};              // joint values of the solution being added
  double r[9] = {};              // target rotation, row-major
  double p[3] = {};              // target tool point
  unsigned char _ij[6][2] = {};  // branch indices per joint
  unsigned char _nj[6] = {};     // branch count per joint
};
