// Fuzz target for the reader of ecodyn's report files and the writers fed
// from it: the CSV tables (wide, tidy and the extinctions) and the gnuplot
// script of ecodyn-plot. A refused input (InputError) is an expected
// outcome. What is written must hold nothing from the input that could act:
// the script's commands no backquote (gnuplot's command substitution; the
// lines of a data block are taken as they are), no line that a name or
// title could have begun (every text is an escaped string inside a line
// the writer starts) and only numbers as data; the CSV records no line end
// outside a quoted field and only well-formed quoting. A breach aborts. libFuzzer's
// interface, run by AFL++'s persistent driver.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "common/diagnostics.h"
#include "common/report_reader.h"
#include "common/spool.h"
#include "csv.h"
#include "script.h"

namespace {

using namespace ecodyn;

[[noreturn]] void breach(const char* what, std::string_view line) {
  std::fprintf(stderr, "report_target: %s: %.*s\n", what, static_cast<int>(line.size()),
               line.data());
  std::abort();
}

// Hands every table to each of the writers.
class Fan final : public tools::ReportHandler {
 public:
  Fan(tools::ReportHandler& a, tools::ReportHandler& b, tools::ReportHandler& c)
      : to_{&a, &b, &c} {}
  void table(const tools::Cycle& c) override {
    for (auto* h : to_) h->table(c);
  }
  void row(const tools::Cycle& c, const tools::TableRow& r) override {
    for (auto* h : to_) h->row(c, r);
  }
  void extinction(const tools::Cycle& c, const tools::Extinction& e) override {
    for (auto* h : to_) h->extinction(c, e);
  }

 private:
  tools::ReportHandler* to_[3];
};

// A CSV record: quotes only around whole fields, doubled within them.
void check_record(std::string_view r) {
  bool quoted = false, field_start = true;
  for (std::size_t k = 0; k < r.size(); ++k) {
    const char c = r[k];
    if (quoted) {
      if (c == '"') {
        if (k + 1 < r.size() && r[k + 1] == '"') {
          ++k;
        } else {
          quoted = false;
          if (k + 1 < r.size() && r[k + 1] != ',') breach("text after a quoted field", r);
        }
      }
      continue;
    }
    if (c == '"') {
      if (!field_start) breach("a quote inside an unquoted field", r);
      quoted = true;
    } else if (c == '\n' || c == '\r') {
      breach("a line end outside quotes", r);
    }
    field_start = c == ',';
  }
  if (quoted) breach("a quoted field not closed", r);
}

// Lines a writer of the script begins: data lines of a block (numbers), the
// block's own lines, comments and commands.
void check_script(tools::Spool& script) {
  script.rewind();
  std::string line;
  bool data = false;
  while (script.read_line(line)) {
    // gnuplot takes the lines of a data block as they are, unsubstituted.
    if (!data && line.find('`') != std::string::npos) breach("a backquote in the script", line);
    if (data) {
      if (line == "EOD") {
        data = false;
      } else if (!line.empty() && line[0] != '#' &&
                 line.find_first_not_of("0123456789.+-eENaInf ") != std::string::npos) {
        breach("a data line that is not numbers", line);
      }
      continue;
    }
    if (line.ends_with("<< EOD")) data = true;
    // A command begins with a word the writer chose; nothing from the input
    // starts a line outside a data block.
    if (!line.empty() && line[0] != '#' && line[0] != '$' && line[0] != ' ' &&
        !(line[0] >= 'a' && line[0] <= 'z')) {
      breach("a line the writer did not begin", line);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::FILE* in = fmemopen(const_cast<std::uint8_t*>(data), size, "rb");
  if (in == nullptr) return 0;
  try {
    tools::Spool wide_body, tidy_body, events, script;
    csv::Tables wide("cycle", false, wide_body, &events);
    csv::Tables tidy("cycle", true, tidy_body, nullptr);
    plot::Picture picture;
    picture.output = "picture.svg";
    picture.format = plot::Format::svg;
    picture.source = "fuzz input";
    plot::Script drawing(picture, 0, script);
    Fan fan(wide, tidy, drawing);
    tools::read_report(in, fan);
    drawing.finish();
    check_script(script);
    wide.write_table(check_record);
    tidy.write_table(check_record);
    wide.write_events(check_record);
  } catch (const tools::InputError&) {
  }
  std::fclose(in);
  return 0;
}
