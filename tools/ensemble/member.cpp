#include "member.h"

#include <charconv>
#include <cmath>
#include <cstring>
#include <stdexcept>

#include "integrate/observer.h"

namespace ecodyn::ensemble {
namespace {

// Watches a member's run: keeps the recorded rows, the extinctions, and
// whether each row stays within the limits and within the band of
// resilience.
class Judge final : public Observer {
 public:
  Judge(const Plan& plan, Result& result) : plan_(plan), result_(result) {}

  void row(int, float t, const Vector& biomass) override {
    bool inside = true;
    for (int i = 1; i <= plan_.ncomp(); ++i) {
      const double b = biomass(i);
      const double base = plan_.biomass[static_cast<std::size_t>(i)];
      if (!(std::fabs(b - base) <= plan_.within * base)) inside = false;
      if (plan_.limits && !(b >= plan_.limits->first * base && b <= plan_.limits->second * base)) {
        out_of_limits = true;
      }
    }
    times.push_back(t);
    inside_.push_back(inside);
    if (plan_.record != Record::none) {
      result_.rows.push_back(
          {static_cast<int>(result_.rows.size()), t, json_array(&biomass.v[0], plan_.recorded)});
    }
  }

  void extinction(int, float t, int k) override {
    for (const Extinct& e : result_.extinctions) {
      if (e.compartment == k) return;
    }
    result_.extinctions.push_back({k, t});
  }

  std::vector<float> times;
  bool out_of_limits = false;
  const std::vector<bool>& inside() const { return inside_; }

 private:
  const Plan& plan_;
  Result& result_;
  std::vector<bool> inside_;
};

template <class T>
void put(std::string& out, const T& v) {
  out.append(reinterpret_cast<const char*>(&v), sizeof v);
}

void put_text(std::string& out, const std::string& s) {
  put(out, static_cast<std::uint32_t>(s.size()));
  out += s;
}

// Reads the fields of a message in the order they were put.
class Reader {
 public:
  explicit Reader(std::string_view m) : m_(m) {}

  template <class T>
  T get() {
    T v;
    need(sizeof v);
    std::memcpy(&v, m_.data() + at_, sizeof v);
    at_ += sizeof v;
    return v;
  }
  std::string text() {
    const auto n = get<std::uint32_t>();
    need(n);
    std::string s(m_.substr(at_, n));
    at_ += n;
    return s;
  }
  std::size_t count(std::size_t least_each) {
    const auto n = get<std::uint32_t>();
    need(static_cast<std::size_t>(n) * least_each);
    return n;
  }
  bool done() const { return at_ == m_.size(); }

 private:
  void need(std::size_t n) const {
    if (m_.size() - at_ < n) throw std::runtime_error("a member's message is cut short");
  }
  std::string_view m_;
  std::size_t at_ = 0;
};

}  // namespace

std::string json_array(const float* values, const std::vector<int>& which) {
  std::string s = "[";
  char buf[32];
  for (std::size_t k = 0; k < which.size(); ++k) {
    const float v = values[which[k] - 1];
    if (k > 0) s += ',';
    if (!std::isfinite(v)) {
      s += "null";
      continue;
    }
    const auto [end, error] = std::to_chars(buf, buf + sizeof buf, v);
    s.append(buf, error == std::errc() ? end : buf);
  }
  return s + "]";
}

std::optional<float> resilience(const std::vector<float>& times, const std::vector<bool>& inside) {
  if (times.empty() || !inside.back()) return std::nullopt;
  std::size_t first = inside.size();
  while (first > 0 && inside[first - 1]) --first;
  return times[first];
}

Result run_member(const Plan& plan, const scenario::Base& base, long long member) {
  Result r;
  r.id = member_id(plan, member);
  r.factors = draw_factors(plan, r.id.draw);
  const std::vector<scenario::Change> c = changes(plan, r.id, r.factors);
  Judge judge(plan, r);
  const scenario::Outcome o = scenario::run(
      base, {scenario_id(plan, r.id.scenario).model, plan.start, plan.end, plan.print}, c, judge);
  r.status = o.status;
  r.message = o.message;
  r.end_time = judge.times.empty() ? plan.start : judge.times.back();
  switch (o.ending) {
    case scenario::Ending::normal:
      r.ending = "end";
      break;
    case scenario::Ending::interval_limit:
      r.ending = "interval limit";
      break;
    default:
      r.ending = "error stop";
      break;
  }
  if (r.ending == "error stop") {
    r.rejection = "error stop";
  } else {
    r.resilience = resilience(judge.times, judge.inside());
    if (plan.reject_extinction && !r.extinctions.empty()) {
      r.rejection = "extinction";
    } else if (judge.out_of_limits) {
      r.rejection = "limits";
    }
  }
  r.accepted = r.rejection.empty();
  return r;
}

void encode(const Result& r, std::string& out) {
  const std::size_t start = out.size();
  put(out, std::uint32_t{0});
  put(out, r.id.member);
  put(out, r.id.scenario);
  put(out, r.id.draw);
  put_text(out, r.ending);
  put(out, static_cast<std::int32_t>(r.status));
  put_text(out, r.message);
  put(out, r.end_time);
  put(out, static_cast<std::uint8_t>(r.accepted));
  put_text(out, r.rejection);
  put(out, static_cast<std::uint8_t>(r.resilience.has_value()));
  put(out, r.resilience.value_or(0.0f));
  put(out, static_cast<std::uint32_t>(r.factors.size()));
  for (const Factor& f : r.factors) {
    put(out, static_cast<std::int32_t>(f.kind));
    put(out, static_cast<std::int32_t>(f.i));
    put(out, static_cast<std::int32_t>(f.j));
    put(out, f.factor);
  }
  put(out, static_cast<std::uint32_t>(r.extinctions.size()));
  for (const Extinct& e : r.extinctions) {
    put(out, static_cast<std::int32_t>(e.compartment));
    put(out, e.time);
  }
  put(out, static_cast<std::uint32_t>(r.rows.size()));
  for (const Row& row : r.rows) {
    put(out, static_cast<std::int32_t>(row.step));
    put(out, row.time);
    put_text(out, row.biomass);
  }
  const auto size = static_cast<std::uint32_t>(out.size() - start - sizeof(std::uint32_t));
  std::memcpy(out.data() + start, &size, sizeof size);
}

Result decode(std::string_view message) {
  Reader in(message);
  Result r;
  r.id.member = in.get<long long>();
  r.id.scenario = in.get<long long>();
  r.id.draw = in.get<long long>();
  r.ending = in.text();
  r.status = in.get<std::int32_t>();
  r.message = in.text();
  r.end_time = in.get<float>();
  r.accepted = in.get<std::uint8_t>() != 0;
  r.rejection = in.text();
  const bool resilient = in.get<std::uint8_t>() != 0;
  const auto resilience = in.get<float>();
  if (resilient) r.resilience = resilience;
  for (std::size_t n = in.count(16); n > 0; --n) {
    Factor f;
    f.kind = static_cast<runner::Kind>(in.get<std::int32_t>());
    f.i = in.get<std::int32_t>();
    f.j = in.get<std::int32_t>();
    f.factor = in.get<float>();
    r.factors.push_back(f);
  }
  for (std::size_t n = in.count(8); n > 0; --n) {
    Extinct e;
    e.compartment = in.get<std::int32_t>();
    e.time = in.get<float>();
    r.extinctions.push_back(e);
  }
  for (std::size_t n = in.count(12); n > 0; --n) {
    Row row;
    row.step = in.get<std::int32_t>();
    row.time = in.get<float>();
    row.biomass = in.text();
    r.rows.push_back(std::move(row));
  }
  if (!in.done()) throw std::runtime_error("a member's message holds more than a member");
  return r;
}

}  // namespace ecodyn::ensemble
