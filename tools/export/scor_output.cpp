#include "scor_output.h"

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "common/diagnostics.h"
#include "common/number.h"
#include "common/scor_reader.h"

namespace ecodyn::exporter {
namespace {

using tools::InputError;

using import::is_blank;
using import::tokens;

bool is_number(const std::string& t) { return import::parse_real(t).has_value(); }

// Returns the text as SCOR holds it: blanks at both ends removed, a tab or
// other blank inside as a space (as a SCOR reader reads it).
std::string scor_text(std::string s) {
  for (char& c : s)
    if (is_blank(c)) c = ' ';
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string::npos) return "";
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

// Refuses a title or name holding a line end or another control character,
// which no line of a SCOR file can carry.
void check_characters(const std::string& text, int line, const std::string& what) {
  for (const char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if ((u < 0x20 && !is_blank(c)) || u == 0x7f) {
      char code[8];
      std::snprintf(code, sizeof code, "0x%02X", u);
      throw InputError(line, what + (c == '\r' || c == '\n'
                                         ? std::string(" holds a line end (") + code +
                                               "), which would end the line in SCOR"
                                         : std::string(" holds the control character ") +
                                               code + ", which a SCOR file cannot carry"));
    }
  }
}

// Writes one line of text as a record.
void line(fio::Unit unit, const std::string& text) {
  fio::write(unit, "(A)", fio::ConstChars{text.data(), static_cast<int>(text.size())});
}

// Returns the value with seven significant digits and no trailing zeros.
std::string value(float v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%.7g", static_cast<double>(v));
  return buf;
}

}  // namespace

void check_scor_texts(const NetworkValues& net) {
  if (net.ncomp < 1) {
    throw InputError(net.line + 1, "a SCOR network needs at least one compartment");
  }
  check_characters(net.title(), net.line, "the title");
  const std::string title = scor_text(net.title());
  if (title.empty()) throw InputError(net.line, "the title is blank");
  if (title[0] == '#') {
    throw InputError(net.line, "the title begins with '#', which a SCOR reader skips as a comment");
  }
  const std::size_t last_gap = title.rfind("  ");
  if (last_gap != std::string::npos && title.find(' ', last_gap + 2) == std::string::npos &&
      is_number(title.substr(last_gap + 2))) {
    throw InputError(net.line,
                     "the title ends in a number set off by two or more blanks, which a SCOR "
                     "reader drops as a stray number");
  }
  for (int i = 1; i <= net.ncomp; ++i) {
    const int at = net.line + 1 + i;
    const std::string what = "the name of compartment " + std::to_string(i);
    check_characters(net.name(i), at, what);
    const std::vector<std::string> t = tokens(net.name(i));
    if (t.empty()) throw InputError(at, what + " is blank");
    if (t.size() == 2 && import::parse_integer(t[0]) && is_number(t[1])) {
      throw InputError(
          at, "the name of compartment " + std::to_string(i) + " reads as a biomass line in SCOR");
    }
  }
}

std::string scor(const NetworkValues& net) {
  const int n = net.ncomp;
  std::string text = scor_text(net.title()) + "\n";
  text += std::to_string(n) + " " + std::to_string(net.nliv) + "\n";
  for (int i = 1; i <= n; ++i) text += scor_text(net.name(i)) + "\n";
  for (const Vector* v : {&net.biomass, &net.inputs, &net.exports, &net.respirations}) {
    for (int i = 1; i <= n; ++i) {
      if ((*v)(i) > 0.0f) text += std::to_string(i) + " " + value((*v)(i)) + "\n";
    }
    text += "-1\n";
  }
  for (int i = 1; i <= n; ++i) {
    for (int j = 1; j <= n; ++j) {
      const float f = net.exchange(i, j);
      if (f > 0.0f) {
        text += std::to_string(i) + " " + std::to_string(j) + " " + value(f) + "\n";
      }
    }
  }
  return text + "-1\n";
}

void check_reads_back(const NetworkValues& net, const std::string& text) {
  tools::Diagnostics quiet("SCOR text", tools::Warnings::none);
  import::ScorNetwork back;
  try {
    back = import::read_scor(text, quiet);
  } catch (const InputError& e) {
    throw InputError(net.line, std::string("the description would not read back from SCOR: ") +
                                   e.what());
  }
  const auto differs = [&](const std::string& what) {
    throw InputError(net.line, "the description would not read back from SCOR as written: " +
                                   what + " would differ");
  };
  if (back.title != scor_text(net.title())) differs("the title");
  if (back.ncomp != net.ncomp || back.nliv != net.nliv) differs("the counts");
  for (int i = 1; i <= net.ncomp; ++i) {
    if (back.names[i - 1] != scor_text(net.name(i))) differs("the name of compartment " + std::to_string(i));
  }
  // Seven significant digits are what the network file holds.
  const auto same = [](const import::SourceValue* read, float v) {
    return import::e14_7(read ? static_cast<float>(read->value) : 0.0f) ==
           import::e14_7(v > 0.0f ? v : 0.0f);
  };
  const Vector* vectors[] = {&net.biomass, &net.inputs, &net.exports, &net.respirations};
  for (int s = 0; s < import::section_count; ++s) {
    for (int i = 1; i <= net.ncomp; ++i) {
      const auto it = back.vectors[s].find(i);
      if (!same(it == back.vectors[s].end() ? nullptr : &it->second, (*vectors[s])(i))) {
        differs(import::entry_name(static_cast<import::Section>(s), i));
      }
    }
  }
  for (int i = 1; i <= net.ncomp; ++i) {
    for (int j = 1; j <= net.ncomp; ++j) {
      const auto it = back.flows.find({i, j});
      if (!same(it == back.flows.end() ? nullptr : &it->second, net.exchange(i, j))) {
        differs("the flow from " + std::to_string(i) + " to " + std::to_string(j));
      }
    }
  }
}

void write_scor(fio::Unit unit, const std::string& text) {
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t eol = text.find('\n', from);
    line(unit, text.substr(from, eol - from));
    from = eol + 1;
  }
}

}  // namespace ecodyn::exporter
