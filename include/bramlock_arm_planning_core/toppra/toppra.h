#pragma once

#include <memory>
#include <vector>

#include <Eigen/Core>

// Types shared by the time-optimal path parameterisation toolkit. Every stage
// of it works on the two variables (u, x) in this order: u the path
// acceleration, x the squared path speed.
namespace toppra {

using value_type = double;
using Vector = Eigen::Matrix<value_type, Eigen::Dynamic, 1>;
using Vectors = std::vector<Vector>;
using Matrix = Eigen::Matrix<value_type, Eigen::Dynamic, Eigen::Dynamic>;
using Matrices = std::vector<Matrix>;
// A row [lower, upper].
using Bound = Eigen::Matrix<value_type, 1, 2>;
using Bounds = std::vector<Bound>;

class LinearConstraint;
using LinearConstraintPtr = std::shared_ptr<LinearConstraint>;
using LinearConstraintPtrs = std::vector<LinearConstraintPtr>;

class GeometricPath;
using GeometricPathPtr = std::shared_ptr<GeometricPath>;

class Solver;
using SolverPtr = std::shared_ptr<Solver>;

// Tolerance for matching grid ends to a path interval.
constexpr value_type TOPPRA_NEARLY_ZERO = 1e-8;

}  // namespace toppra
