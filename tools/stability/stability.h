// The linear analysis of the dynamic model at a state: the Jacobian of the
// model equations written from the flow laws in double precision, its
// eigenvalues, and what they say of the stability of the state.
#pragma once

#include <complex>
#include <optional>
#include <string>
#include <vector>

#include "model/konsts.h"
#include "network/network.h"

namespace ecodyn::stability {

// A square matrix of doubles indexed from 1, (i,j) stored row by row.
class Square {
 public:
  explicit Square(int n = 0) : n_(n), a_(static_cast<std::size_t>(n) * n, 0.0) {}
  int size() const { return n_; }
  double& operator()(int i, int j) { return a_[static_cast<std::size_t>((i - 1) * n_ + j - 1)]; }
  double operator()(int i, int j) const {
    return a_[static_cast<std::size_t>((i - 1) * n_ + j - 1)];
  }

 private:
  int n_;
  std::vector<double> a_;
};

// The biomasses of a state, compartment i at [i - 1].
using State = std::vector<double>;

// Returns the state the model starts from: the biomasses 1..ncomp.
State state_of(const Vector& biomass, int ncomp);

// Returns dy/dt at y under the model of konsts (its type, counts and
// coefficients), in double precision from the flow laws. Under model type 1
// every y must be above zero.
std::vector<double> rates(const Konsts& k, const State& y);

// Returns each compartment's throughput at y: the mean of its total inflow
// (input included) and its total outflow (export and respiration included),
// the flows those of the model at y. The type-3 self-term counts as an
// inflow while positive and as an outflow while negative.
std::vector<double> throughputs(const Konsts& k, const State& y);

// Returns J(i,j) = d(dy_i/dt)/d(y_j) at y under the model of konsts. Under
// model type 1 every y must be above zero.
Square jacobian(const Konsts& k, const State& y);

// Returns the eigenvalues of a, ranked: largest real part first, and of a
// conjugate pair the one with the positive imaginary part first.
std::vector<std::complex<double>> eigenvalues(const Square& a);

// Returns the largest real part of the eigenvalues of a (-infinity for an
// empty matrix).
double dominant_real_part(const Square& a);

// The dominant eigenvalue of a matrix (largest real part), its eigenvector
// normalized to length 1, and how far it is uncertain: what rounding every
// entry of the matrix to single precision, as the model's coefficients are,
// can move it (ten roundings of 2^-24 of each entry, carried to the
// eigenvalue by its condition |w|'|J||v| / |w'v|, w and v its left and
// right eigenvectors), plus what a drift d of the diagonal moves it by to
// first order (sum of |w_i| d_i |v_i| / |w'v|); at most a millionth of the
// largest eigenvalue's magnitude (where the eigenvectors are nearly
// parallel the condition tells nothing).
struct Mode {
  std::complex<double> value;
  std::vector<std::complex<double>> vector;
  double tolerance = 0;
};

// Returns the dominant mode of a, its diagonal uncertain by drift (none
// when empty).
Mode dominant_mode(const Square& a, const std::vector<double>& drift = {});

// Returns how far the diagonal of the Jacobian at y stands from the one at
// a state of rest nearby: |dy_i/dt| / y_i under model types 1 and 3, whose
// Jacobian holds the rates of the state on its diagonal; nothing under type
// 2, whose Jacobian does not depend on the state.
std::vector<double> drift(const Konsts& k, const State& y, const std::vector<double>& r);

// Returns the smallest uniform self-damping s >= 0 of the living
// compartments 1..nliv (J - s*D, D the identity on living rows) that makes
// the dominant real part negative (below a billionth of the largest
// eigenvalue's magnitude), found by bisection to a relative width
// of `digits` significant digits; 0 when J is stable already; nothing when
// no damping of the living compartments makes it stable (the non-living
// compartments by themselves are not).
std::optional<double> minimum_self_damping(const Square& j, int nliv, int digits = 4);

// The rounding of one single-precision coefficient, and the number of
// roundings allowed for in each entry of the Jacobian.
inline constexpr double single_rounding = 0x1p-24;
inline constexpr double roundings = 10;

// The most a dominant eigenvalue's tolerance is, as a fraction of the
// largest eigenvalue's magnitude.
inline constexpr double neutral_cap = 1.0e-6;

enum class Verdict { stable, neutral, unstable };

// Returns the verdict on a dominant mode: neutral when its real part lies
// within its tolerance of zero.
Verdict verdict(const Mode& dominant);

// The analysis of one model at one state.
struct Analysis {
  int model = 0;                                 // the model type
  Square jacobian;
  std::vector<std::complex<double>> eigenvalues;  // ranked
  Mode dominant;
  Verdict verdict = Verdict::stable;
  // The compartments carrying the dominant eigenvector: numbers with their
  // share of its squared length, largest first, until the shares reach 90%
  // (at most five).
  std::vector<std::pair<int, double>> carriers;
  std::optional<double> s_min;
  // The equilibrium: dy/dt and the throughputs at the state, compartment i
  // at [i - 1]; the largest |dy/dt| relative to the compartment's
  // throughput, and where.
  std::vector<double> rates, throughputs;
  double largest_relative_rate = 0;
  int fastest_compartment = 0;
  double largest_rate = 0;  // |dy/dt| there
};

// Analyses the model of konsts at y. Under model type 1 every y must be
// above zero.
Analysis analyse(const Konsts& k, const State& y);

// Returns the index of the first biomass of y at or below zero, 0 when none:
// the model of type 1 stops there.
int first_not_positive(const State& y);

// Returns the dominant mode of the steady state of a loaded network under
// model type 1, 2 or 3: the coefficients derived from it by the program's
// own derivation (left in konsts; a snapshot under its own type keeps its
// own), the state its biomasses. Nothing when the coefficients cannot be
// derived (a biomass of zero or less) or the model has no rates there;
// nothing is written then.
std::optional<Mode> steady_state_mode(const Network& net, int model_type);

// Returns the dominant eigenvalue of steady_state_mode.
std::optional<std::complex<double>> steady_state_dominant(const Network& net, int model_type);

// Returns the line ecodyn-run adds to its standard error when the steady
// state of the loaded ordinary network is unstable under the model type
// ("note: under model 1 the steady state is unstable (dominant eigenvalue
// 0.012 per time unit): small departures grow"), "" otherwise. Leaves the
// derived coefficients in konsts.
std::string instability_note(const Network& net, int model_type);

}  // namespace ecodyn::stability
