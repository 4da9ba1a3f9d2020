#include "stability.h"

#include <Eigen/Eigenvalues>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numeric>
#include <stdexcept>

#include "model/coefficients.h"
#include "model/flow_laws.h"

namespace ecodyn::stability {
namespace {

// One exchange flow at a state and its slopes by the donor's and by the
// recipient's biomass.
struct Flow {
  double value = 0, by_donor = 0, by_recipient = 0;
};

// The availability of every donor and its slope, under model type 1.
struct Availability {
  std::vector<double> value, slope;
};

Availability availability(const Konsts& k, const State& y) {
  Availability a;
  if (k.mtype != 1) return a;
  for (int i = 1; i <= k.ncomp; ++i) {
    const double bref = k.bref(i);
    a.value.push_back(flow::availability(bref, y[i - 1]));
    a.slope.push_back(flow::availability_slope(bref, y[i - 1]));
  }
  return a;
}

// Returns the flow from a to b (a != b) by the law of the model type, as
// the model equations take it: under type 1 a coefficient of zero or less
// carries nothing; a model type other than 1 and 3 is donor control.
Flow exchange(const Konsts& k, const State& y, const Availability& avail, int a, int b) {
  const double c = k.cexch(a, b);
  const double ya = y[a - 1], yb = y[b - 1];
  const bool living = b <= k.nliv;
  const Flow donor{flow::donor(c, ya), flow::linear_slope(c), 0.0};
  switch (k.mtype) {
    case 1:
      if (!(k.cexch(a, b) > 0.0f)) return {};
      if (!living) return donor;
      return {flow::predator(c, yb, avail.value[a - 1]),
              flow::predator_by_donor(c, yb, avail.slope[a - 1]),
              flow::predator_by_recipient(c, avail.value[a - 1])};
    case 3:
      if (!living) return donor;
      return {flow::mass_action(c, ya, yb), flow::mass_action_by_donor(c, yb),
              flow::mass_action_by_recipient(c, ya)};
    default:
      return donor;
  }
}

// Returns whether compartment i carries the type-3 self-term in place of
// its flow to itself.
bool self_term(const Konsts& k, int i) { return k.mtype == 3 && i <= k.nliv; }

// Calls visit(a, b, flow) for every exchange flow between two different
// compartments (a compartment's flow to itself leaves and enters it alike).
template <class Visit>
void each_exchange(const Konsts& k, const State& y, Visit visit) {
  const Availability avail = availability(k, y);
  for (int a = 1; a <= k.ncomp; ++a) {
    for (int b = 1; b <= k.ncomp; ++b) {
      if (a != b) visit(a, b, exchange(k, y, avail, a, b));
    }
  }
}

double self_term_value(const Konsts& k, const State& y, int i) {
  return flow::add_self_term(0.0, static_cast<double>(k.cexch(i, i)),
                             static_cast<double>(k.bref(i)), y[i - 1]);
}

double loss_coefficient(const Konsts& k, int i) {
  return static_cast<double>(k.cexp(i)) + static_cast<double>(k.cresp(i));
}

Eigen::MatrixXd to_eigen(const Square& a) {
  const int n = a.size();
  Eigen::MatrixXd m(n, n);
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) m(i - 1, j - 1) = a(i, j);
  }
  return m;
}

bool ranks_before(std::complex<double> a, std::complex<double> b) {
  if (a.real() != b.real()) return a.real() > b.real();
  return a.imag() > b.imag();
}

// Returns the eigenvalues of m; throws std::runtime_error when the solver
// does not converge.
Eigen::VectorXcd solve(const Eigen::MatrixXd& m, bool vectors,
                       Eigen::EigenSolver<Eigen::MatrixXd>& solver) {
  solver.compute(m, vectors);
  if (solver.info() != Eigen::Success) {
    throw std::runtime_error("the eigenvalues of the Jacobian could not be computed");
  }
  return solver.eigenvalues();
}

double largest_magnitude(const std::vector<std::complex<double>>& values) {
  double m = 0;
  for (const auto& v : values) m = std::max(m, std::abs(v));
  return m;
}

// J - s*D, D the identity on the living rows 1..nliv.
Square damped(const Square& j, int nliv, double s) {
  Square d = j;
  for (int i = 1; i <= nliv; ++i) d(i, i) -= s;
  return d;
}

}  // namespace

std::vector<double> drift(const Konsts& k, const State& y, const std::vector<double>& r) {
  std::vector<double> d;
  if (k.mtype != 1 && k.mtype != 3) return d;
  for (int i = 0; i < k.ncomp; ++i) d.push_back(y[i] != 0 ? std::fabs(r[i] / y[i]) : 0.0);
  return d;
}

State state_of(const Vector& biomass, int ncomp) {
  State y;
  for (int i = 1; i <= ncomp; ++i) y.push_back(biomass(i));
  return y;
}

std::vector<double> rates(const Konsts& k, const State& y) {
  std::vector<double> r;
  for (int i = 1; i <= k.ncomp; ++i) {
    r.push_back(static_cast<double>(k.inputs(i)) - flow::linear(loss_coefficient(k, i), y[i - 1]));
    if (self_term(k, i)) r.back() += self_term_value(k, y, i);
  }
  each_exchange(k, y, [&](int a, int b, const Flow& f) {
    r[a - 1] -= f.value;
    r[b - 1] += f.value;
  });
  return r;
}

std::vector<double> throughputs(const Konsts& k, const State& y) {
  std::vector<double> in, out;
  for (int i = 1; i <= k.ncomp; ++i) {
    in.push_back(k.inputs(i));
    out.push_back(flow::linear(loss_coefficient(k, i), y[i - 1]));
    if (self_term(k, i)) {
      const double s = self_term_value(k, y, i);
      (s > 0 ? in : out).back() += std::fabs(s);
    }
  }
  each_exchange(k, y, [&](int a, int b, const Flow& f) {
    out[a - 1] += f.value;
    in[b - 1] += f.value;
  });
  std::vector<double> t;
  for (int i = 0; i < k.ncomp; ++i) t.push_back((in[i] + out[i]) / 2);
  return t;
}

Square jacobian(const Konsts& k, const State& y) {
  Square j(k.ncomp);
  for (int i = 1; i <= k.ncomp; ++i) {
    j(i, i) = -flow::linear_slope(loss_coefficient(k, i));
    if (self_term(k, i)) {
      j(i, i) += flow::self_term_slope(static_cast<double>(k.cexch(i, i)),
                                       static_cast<double>(k.bref(i)), y[i - 1]);
    }
  }
  // The flow from a to b leaves a and enters b.
  each_exchange(k, y, [&](int a, int b, const Flow& f) {
    j(a, a) -= f.by_donor;
    j(b, a) += f.by_donor;
    j(a, b) -= f.by_recipient;
    j(b, b) += f.by_recipient;
  });
  return j;
}

std::vector<std::complex<double>> eigenvalues(const Square& a) {
  Eigen::EigenSolver<Eigen::MatrixXd> solver;
  const Eigen::VectorXcd v = solve(to_eigen(a), false, solver);
  std::vector<std::complex<double>> values(v.data(), v.data() + v.size());
  std::sort(values.begin(), values.end(), ranks_before);
  return values;
}

double dominant_real_part(const Square& a) {
  double m = -std::numeric_limits<double>::infinity();
  for (const auto& v : eigenvalues(a)) m = std::max(m, v.real());
  return m;
}

Mode dominant_mode(const Square& a, const std::vector<double>& drift) {
  Mode mode;
  if (a.size() == 0) return mode;
  const Eigen::MatrixXd j = to_eigen(a);
  Eigen::EigenSolver<Eigen::MatrixXd> solver;
  const Eigen::VectorXcd v = solve(j, true, solver);
  Eigen::Index best = 0;
  for (Eigen::Index i = 1; i < v.size(); ++i) {
    if (ranks_before(v(i), v(best))) best = i;
  }
  mode.value = v(best);
  const Eigen::MatrixXcd right = solver.eigenvectors();
  const Eigen::VectorXcd x = right.col(best).normalized();
  mode.vector.assign(x.data(), x.data() + x.size());
  // The rows of the inverse of the right eigenvectors are the left ones,
  // scaled so that w'v = 1.
  const Eigen::RowVectorXcd w = right.inverse().row(best);
  const double condition =
      (w.cwiseAbs() * j.cwiseAbs() * right.col(best).cwiseAbs()).value();
  const double cap = neutral_cap * v.cwiseAbs().maxCoeff();
  double moved = 0;  // by the drift, to first order
  for (std::size_t i = 0; i < drift.size(); ++i) {
    moved += std::abs(w(static_cast<Eigen::Index>(i))) * drift[i] *
             std::abs(right(static_cast<Eigen::Index>(i), best));
  }
  const double bound = roundings * single_rounding * condition + moved;
  mode.tolerance = std::isfinite(bound) ? std::min(bound, cap) : cap;
  return mode;
}

std::optional<double> minimum_self_damping(const Square& j, int nliv, int digits) {
  const int n = j.size();
  const double margin = 1.0e-9 * largest_magnitude(eigenvalues(j));
  const auto stable = [&](double s) { return dominant_real_part(damped(j, nliv, s)) < -margin; };
  if (stable(0)) return 0.0;
  // Damping the living compartments without bound leaves the non-living
  // ones to themselves.
  if (nliv < n) {
    Square rest(n - nliv);
    for (int a = 1; a <= n - nliv; ++a) {
      for (int b = 1; b <= n - nliv; ++b) rest(a, b) = j(nliv + a, nliv + b);
    }
    if (dominant_real_part(rest) >= -margin) return std::nullopt;
  }
  double scale = 0;  // the largest row sum of |J|, by which damping surely tells
  for (int a = 1; a <= n; ++a) {
    double row = 0;
    for (int b = 1; b <= n; ++b) row += std::fabs(j(a, b));
    scale = std::max(scale, row);
  }
  double lo = 0, hi = scale > 0 ? scale : 1;
  for (int doubling = 0; !stable(hi); ++doubling) {
    if (doubling == 200) return std::nullopt;
    lo = hi;
    hi *= 2;
  }
  // A boundary at zero itself would halve the width without end.
  const double width = 0.5 * std::pow(10.0, 1 - digits);
  for (int halving = 0; hi - lo > width * hi && halving < 200; ++halving) {
    const double mid = (lo + hi) / 2;
    (stable(mid) ? hi : lo) = mid;
  }
  return hi;
}

Verdict verdict(const Mode& dominant) {
  if (dominant.value.real() > dominant.tolerance) return Verdict::unstable;
  if (dominant.value.real() < -dominant.tolerance) return Verdict::stable;
  return Verdict::neutral;
}

int first_not_positive(const State& y) {
  for (std::size_t i = 0; i < y.size(); ++i) {
    if (!(y[i] > 0)) return static_cast<int>(i) + 1;
  }
  return 0;
}

Analysis analyse(const Konsts& k, const State& y) {
  Analysis a;
  a.model = k.mtype;
  a.jacobian = jacobian(k, y);
  a.eigenvalues = eigenvalues(a.jacobian);
  a.rates = rates(k, y);
  a.throughputs = throughputs(k, y);
  a.dominant = dominant_mode(a.jacobian, drift(k, y, a.rates));
  a.verdict = verdict(a.dominant);

  std::vector<int> order(a.dominant.vector.size());
  std::iota(order.begin(), order.end(), 0);
  const auto share = [&](int i) { return std::norm(a.dominant.vector[i]); };
  std::stable_sort(order.begin(), order.end(), [&](int p, int q) { return share(p) > share(q); });
  double sum = 0;
  for (const int i : order) {
    if (sum >= 0.9 || a.carriers.size() == 5) break;
    a.carriers.emplace_back(i + 1, share(i));
    sum += share(i);
  }
  a.s_min = minimum_self_damping(a.jacobian, k.nliv);

  const std::vector<double>& r = a.rates;
  const std::vector<double>& t = a.throughputs;
  for (int i = 0; i < k.ncomp; ++i) {
    const double rate = std::fabs(r[i]);
    const double relative = rate == 0 ? 0 : t[i] > 0 ? rate / t[i] : HUGE_VAL;
    if (a.fastest_compartment == 0 || relative > a.largest_relative_rate) {
      a.largest_relative_rate = relative;
      a.fastest_compartment = i + 1;
      a.largest_rate = rate;
    }
  }
  return a;
}

std::optional<Mode> steady_state_mode(const Network& net, int model_type) {
  const State y = state_of(net.biomass, konsts.ncomp);
  const bool derive = !net.restart || konsts.mtype != model_type;
  if ((derive || model_type == 1) && first_not_positive(y) != 0) return std::nullopt;
  if (derive) derive_coefficients(net, model_type);
  const Square j = jacobian(konsts, y);
  for (int a = 1; a <= j.size(); ++a) {
    for (int b = 1; b <= j.size(); ++b) {
      if (!std::isfinite(j(a, b))) return std::nullopt;
    }
  }
  if (j.size() == 0) return std::nullopt;
  return dominant_mode(j, drift(konsts, y, rates(konsts, y)));
}

std::optional<std::complex<double>> steady_state_dominant(const Network& net, int model_type) {
  const std::optional<Mode> mode = steady_state_mode(net, model_type);
  if (!mode) return std::nullopt;
  return mode->value;
}

std::string instability_note(const Network& net, int model_type) {
  const std::optional<Mode> mode = steady_state_mode(net, model_type);
  if (!mode || verdict(*mode) != Verdict::unstable) return "";
  char text[160];
  std::snprintf(text, sizeof text,
                "note: under model %d the steady state is unstable (dominant eigenvalue %.2g "
                "per time unit): small departures grow",
                model_type, mode->value.real());
  return text;
}

}  // namespace ecodyn::stability
