#include "plan.h"

#include <charconv>
#include <cmath>
#include <cstdlib>
#include <numbers>
#include <random>

namespace ecodyn::ensemble {
namespace {

using runner::exact_text;
using runner::Kind;
using runner::lower;
using runner::trimmed;

std::vector<std::string> split(const std::string& text, char by) {
  std::vector<std::string> parts;
  std::size_t from = 0;
  for (;;) {
    const std::size_t at = text.find(by, from);
    parts.push_back(text.substr(from, at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

// Returns a decimal number (the whole text); nullopt for anything else, an
// infinity or a NaN included.
std::optional<double> decimal(const std::string& text) {
  const std::string t = trimmed(text);
  if (t.empty() || t.find_first_not_of("0123456789+-.eE") != std::string::npos) return {};
  char* end = nullptr;
  const double d = std::strtod(t.c_str(), &end);
  if (*end != '\0' || !std::isfinite(d)) return {};
  return d;
}

Kind parse_kind(const std::string& text, const std::string& what) {
  static const char* const kinds[] = {"biomass", "input", "export", "respiration", "exchange"};
  const std::string kind = lower(trimmed(text));
  for (int k = 0; k < 5; ++k) {
    if (kind == kinds[k]) return static_cast<Kind>(k + 1);
  }
  throw ScenarioError(what + ": unknown kind '" + kind +
                      "'; the kinds are biomass, input, export, respiration and exchange");
}

// Parses one --sweep: each value as a --perturb of the same kind and
// compartment, the messages naming the --sweep.
Sweep parse_sweep(const std::string& text, const std::vector<std::string>& names) {
  const std::string what = "--sweep \"" + text + "\"";
  const std::size_t equals = text.rfind('=');
  if (text.find(':') == std::string::npos || equals == std::string::npos) {
    throw ScenarioError(what + ": expected KIND:COMPARTMENT=V1,V2,... (values or xFACTORs)");
  }
  Sweep s;
  s.text = text;
  s.where = trimmed(text.substr(0, equals));
  for (const std::string& v : split(text.substr(equals + 1), ',')) {
    const std::string one = text.substr(0, equals + 1) + v;
    runner::Perturbation p;
    try {
      p = runner::parse_perturbation(one, names);
    } catch (const ScenarioError& e) {
      const std::string prefix = "--perturb \"" + one + "\"";
      const std::string m = e.what();
      throw ScenarioError(what + (m.rfind(prefix, 0) == 0 ? m.substr(prefix.size()) : ": " + m));
    }
    s.kind = p.kind;
    s.i = p.i;
    s.j = p.j;
    s.factor.push_back(p.factor);
    s.values.push_back(p.value);
    s.value_texts.push_back(trimmed(v));
  }
  return s;
}

// Returns the compartments of a --vary's WHICH.
std::vector<int> which_compartments(const std::string& which, const Plan& plan,
                                    const std::string& what) {
  const std::string w = lower(trimmed(which));
  std::vector<int> found;
  for (int i = 1; i <= plan.ncomp(); ++i) {
    const bool living = i <= plan.nliv;
    if (w == "all" || (w == "living" && living) || (w == "nonliving" && !living))
      found.push_back(i);
  }
  if (w != "all" && w != "living" && w != "nonliving") {
    found.push_back(runner::find_compartment(plan.names, which, what));
  }
  return found;
}

Vary parse_vary(const std::string& text, const Plan& plan, const scenario::Base& base) {
  const std::string what = "--vary \"" + text + "\"";
  const std::size_t colon = text.find(':');
  const std::size_t equals = text.rfind('=');
  if (colon == std::string::npos || equals == std::string::npos || equals < colon) {
    throw ScenarioError(what + ": expected KIND:WHICH=uniform:S% or KIND:WHICH=lognormal:SIGMA");
  }
  Vary v;
  v.text = text;
  v.kind = parse_kind(text.substr(0, colon), what);
  const std::vector<int> which =
      which_compartments(text.substr(colon + 1, equals - colon - 1), plan, what);
  const std::string law = trimmed(text.substr(equals + 1));
  const std::size_t law_colon = law.find(':');
  const std::string name = lower(trimmed(law.substr(0, law_colon)));
  std::string spread = law_colon == std::string::npos ? "" : trimmed(law.substr(law_colon + 1));
  if (name == "uniform") {
    v.distribution = Distribution::uniform;
    if (spread.empty() || spread.back() != '%') {
      throw ScenarioError(what +
                          ": the spread of a uniform factor is a percentage, e.g. uniform:20%");
    }
    spread.pop_back();
    const std::optional<double> s = decimal(spread);
    if (!s || *s < 0 || *s >= 100) {
      throw ScenarioError(what +
                          ": the spread of a uniform factor must be from 0% to less than "
                          "100%, not '" +
                          spread + "%'");
    }
    v.spread = *s / 100;
  } else if (name == "lognormal") {
    v.distribution = Distribution::lognormal;
    const std::optional<double> s = decimal(spread);
    if (!s || !(*s > 0)) {
      throw ScenarioError(what +
                          ": the sigma of a lognormal factor must be a number above 0, not '" +
                          spread + "'");
    }
    v.spread = *s;
  } else {
    throw ScenarioError(what + ": unknown distribution '" + name +
                        "'; the distributions are uniform:S% and lognormal:SIGMA");
  }
  if (v.kind == Kind::exchange) {
    std::vector<bool> in(static_cast<std::size_t>(plan.ncomp()) + 1, false);
    for (const int i : which) in[static_cast<std::size_t>(i)] = true;
    for (int i = 1; i <= plan.ncomp(); ++i) {
      for (int j = 1; j <= plan.ncomp(); ++j) {
        const bool flow =
            base.net.restart ? base.konsts.cexch(i, j) > 0 : base.net.exchange(i, j) > 0;
        if (i != j && in[static_cast<std::size_t>(i)] && in[static_cast<std::size_t>(j)] && flow) {
          v.targets.emplace_back(i, j);
        }
      }
    }
    if (v.targets.empty())
      throw ScenarioError(what + ": there is no flow among these compartments");
  } else {
    for (const int i : which) v.targets.emplace_back(i, 0);
  }
  return v;
}

std::vector<int> compartment_list(const std::string& text, const Plan& plan,
                                  const std::string& what) {
  std::vector<int> list;
  for (const std::string& part : split(text, ',')) {
    list.push_back(runner::find_compartment(plan.names, part, what));
  }
  return list;
}

std::string name_text(const NameTable& names, int row, int words, std::size_t length) {
  std::string s;
  for (int w = 1; w <= words; ++w) s.append(names.word(row, w).data(), 4);
  s.resize(length);
  const std::size_t end = s.find_last_not_of(' ');
  return end == std::string::npos ? "" : s.substr(0, end + 1);
}

}  // namespace

const char* kind_name(Kind kind) {
  static const char* const kinds[] = {"biomass", "input", "export", "respiration", "exchange"};
  return kinds[static_cast<int>(kind) - 1];
}

long long Plan::scenarios() const {
  long long n = static_cast<long long>(models.size());
  for (const Sweep& s : sweeps) n *= static_cast<long long>(s.values.size());
  return n;
}

Plan make_plan(const Options& o, const scenario::Base& base) {
  Plan plan;
  plan.network = o.network;
  plan.snapshot = base.net.restart;
  plan.title = name_text(base.net.names, 0, 20, 78);
  plan.names.push_back("");
  plan.biomass.push_back(0);
  for (int i = 1; i <= base.konsts.ncomp; ++i) {
    plan.names.push_back(name_text(base.net.names, i, 7, 25));
    plan.biomass.push_back(base.net.biomass(i));
  }
  plan.nliv = base.konsts.nliv;
  if (plan.ncomp() == 0) throw ScenarioError(o.network + ": the description has no compartments");

  plan.models = o.models;
  plan.models_text = o.models_text;
  const auto real = [](const std::string& text, const char* option) {
    return runner::parse_real(text, option);
  };
  if (plan.snapshot && !o.start.empty()) {
    throw ScenarioError("--start: the network is a snapshot at time " +
                        exact_text(base.net.snap_time) + ", where ecodyn starts it");
  }
  runner::Cycle cycle;
  cycle.restart = plan.snapshot;
  cycle.start = plan.snapshot     ? base.net.snap_time
                : o.start.empty() ? 0.0f
                                  : real(o.start, "--start");
  cycle.end = real(o.end, "--end");
  cycle.print = o.print.empty() ? (cycle.end - cycle.start) / 100.0f : real(o.print, "--print");
  runner::check_times(cycle);
  plan.start = cycle.start;
  plan.end = cycle.end;
  plan.print = cycle.print;

  plan.perturb_texts = o.perturb;
  for (const std::string& p : o.perturb)
    plan.fixed.push_back(runner::parse_perturbation(p, plan.names));
  for (const std::string& s : o.sweep) plan.sweeps.push_back(parse_sweep(s, plan.names));
  for (const std::string& v : o.vary) plan.varies.push_back(parse_vary(v, plan, base));
  if (o.draws < 1) throw ScenarioError("--draws must be 1 or more");
  plan.draws = o.draws;
  plan.seed = o.seed;
  // The numbers of members must stay well within 64 bits.
  long long n = static_cast<long long>(plan.models.size());
  for (const Sweep& s : plan.sweeps) {
    if (n > (1LL << 40) / static_cast<long long>(s.values.size())) n = -1;
    if (n < 0) break;
    n *= static_cast<long long>(s.values.size());
  }
  if (n < 0 || n > (1LL << 40) / plan.draws)
    throw ScenarioError("the ensemble has too many members");

  if (!o.follow.empty()) {
    if (plan.ncomp() <= 7) {
      throw ScenarioError("--follow: the network has " + std::to_string(plan.ncomp()) +
                          " compartments, and ecodyn tabulates all of them");
    }
    plan.followed = compartment_list(o.follow, plan, "--follow");
    if (plan.followed.size() != 7) {
      throw ScenarioError("--follow: ecodyn tabulates exactly 7 compartments; " +
                          std::to_string(plan.followed.size()) + " given");
    }
    plan.follow_given = true;
  } else {
    for (int i = 1; i <= std::min(7, plan.ncomp()); ++i) plan.followed.push_back(i);
  }
  if (o.record == "all") {
    plan.record = Record::all;
    for (int i = 1; i <= plan.ncomp(); ++i) plan.recorded.push_back(i);
  } else if (o.record == "followed") {
    plan.record = Record::followed;
    plan.recorded = plan.followed;
  } else if (o.record == "none") {
    plan.record = Record::none;
  } else {
    throw ScenarioError("--record must be all, followed or none, not '" + o.record + "'");
  }

  plan.reject_extinction = o.reject_extinction;
  if (!o.limits.empty()) {
    const std::vector<std::string> parts = split(o.limits, ',');
    const std::optional<double> low = parts.size() == 2 ? decimal(parts[0]) : std::nullopt;
    const std::optional<double> high = parts.size() == 2 ? decimal(parts[1]) : std::nullopt;
    if (!low || !high || *low < 0 || !(*high > *low)) {
      throw ScenarioError("--limits '" + o.limits +
                          "': expected LOW,HIGH with 0 <= LOW < HIGH, factors of the starting "
                          "biomasses");
    }
    plan.limits = std::pair{*low, *high};
  }
  const std::optional<double> within = decimal(o.within);
  if (!within || !(*within > 0)) {
    throw ScenarioError("--within '" + o.within + "': expected a fraction above 0, e.g. 0.1");
  }
  plan.within = *within;
  return plan;
}

float uniform_factor(std::uint64_t x, double spread) {
  const double u = static_cast<double>(x >> 11) * 0x1.0p-53;
  return static_cast<float>(1.0 + spread * (2.0 * u - 1.0));
}

float lognormal_factor(std::uint64_t x, std::uint64_t next, double sigma) {
  const double u1 = 1.0 - static_cast<double>(x >> 11) * 0x1.0p-53;  // in (0, 1]
  const double u2 = static_cast<double>(next >> 11) * 0x1.0p-53;
  const double z = std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * std::numbers::pi * u2);
  return static_cast<float>(std::exp(sigma * z));
}

std::vector<Factor> draw_factors(const Plan& plan, long long draw) {
  std::seed_seq seq{static_cast<std::uint32_t>(plan.seed & 0xffffffffu),
                    static_cast<std::uint32_t>(plan.seed >> 32), static_cast<std::uint32_t>(draw)};
  std::mt19937_64 engine(seq);
  std::vector<Factor> factors;
  for (const Vary& v : plan.varies) {
    for (const auto& [i, j] : v.targets) {
      Factor f{v.kind, i, j, 1.0f};
      const std::uint64_t x = engine();
      if (v.distribution == Distribution::uniform) {
        f.factor = uniform_factor(x, v.spread);
      } else {
        f.factor = lognormal_factor(x, engine(), v.spread);
      }
      factors.push_back(f);
    }
  }
  return factors;
}

MemberId member_id(const Plan& plan, long long member) {
  return {member, (member - 1) / plan.draws + 1, (member - 1) % plan.draws + 1};
}

ScenarioId scenario_id(const Plan& plan, long long scenario) {
  ScenarioId id;
  long long rest = scenario - 1;
  id.values.resize(plan.sweeps.size());
  for (std::size_t k = plan.sweeps.size(); k-- > 0;) {
    const long long n = static_cast<long long>(plan.sweeps[k].values.size());
    id.values[k] = static_cast<int>(rest % n);
    rest /= n;
  }
  id.model = plan.models[static_cast<std::size_t>(rest)];
  return id;
}

std::string label(const Plan& plan, long long scenario) {
  const ScenarioId id = scenario_id(plan, scenario);
  std::string s = "model " + std::to_string(id.model);
  for (std::size_t k = 0; k < plan.sweeps.size(); ++k) {
    const Sweep& sw = plan.sweeps[k];
    s += ", " + sw.where + "=" + sw.value_texts[static_cast<std::size_t>(id.values[k])];
  }
  return s;
}

std::vector<scenario::Change> changes(const Plan& plan, const MemberId& id,
                                      const std::vector<Factor>& factors) {
  std::vector<scenario::Change> c;
  const auto kind = [](Kind k) { return static_cast<scenario::Kind>(k); };
  for (const runner::Perturbation& p : plan.fixed)
    c.push_back({kind(p.kind), p.i, p.j, p.factor, p.value});
  const ScenarioId sid = scenario_id(plan, id.scenario);
  for (std::size_t k = 0; k < plan.sweeps.size(); ++k) {
    const Sweep& s = plan.sweeps[k];
    const auto v = static_cast<std::size_t>(sid.values[k]);
    c.push_back({kind(s.kind), s.i, s.j, s.factor[v], s.values[v]});
  }
  for (const Factor& f : factors) c.push_back({kind(f.kind), f.i, f.j, true, f.factor});
  return c;
}

std::vector<Members> members_to_run(const Plan& plan) { return {{1, plan.members()}}; }

std::string shell_quoted(const std::string& text) {
  if (!text.empty() &&
      text.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789"
                             "_-+./,:=%@") == std::string::npos) {
    return text;
  }
  std::string q = "'";
  for (const char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

std::string member_command(const Plan& plan, const MemberId& id,
                           const std::vector<Factor>& factors) {
  std::string c = "ecodyn-run " + shell_quoted(plan.network) + " --index " +
                  std::to_string(plan.description) + " --model " +
                  std::to_string(scenario_id(plan, id.scenario).model);
  if (!plan.snapshot) c += " --start " + exact_text(plan.start);
  c += " --end " + exact_text(plan.end) + " --print " + exact_text(plan.print);
  if (plan.follow_given) {
    std::string list;
    for (const int i : plan.followed) {
      if (!list.empty()) list += ',';
      list += std::to_string(i);
    }
    c += " --follow ";
    c += list;
  }
  for (const scenario::Change& ch : changes(plan, id, factors)) {
    std::string p = kind_name(static_cast<Kind>(ch.kind));
    p += ':';
    p += std::to_string(ch.i);
    if (ch.kind == scenario::Kind::exchange) {
      p += ',';
      p += std::to_string(ch.j);
    }
    p += ch.factor ? "=x" : "=";
    p += exact_text(ch.value);
    c += " --perturb ";
    c += shell_quoted(p);
  }
  return c;
}

}  // namespace ecodyn::ensemble
