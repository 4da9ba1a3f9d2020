// Fuzz target for ecodyn-run's options: the values of --model, --start,
// --end, --print, --snapshot, --follow and --perturb, one per line of the
// input (the lines after the sixth are --perturb changes), turned into
// answers by ecodyn-run's scenario code on a bundled network chosen by the
// first line's length (the grazing chain, 4 compartments, or Crystal River,
// 21). A refused option (ScenarioError) is an expected outcome. Answers
// the scenario code accepts are then given to ecodyn itself, as ecodyn-run
// gives them: ecodyn must take every one at once, so a refusal of its
// dialogue ("TRY AGAIN", "MUST BE", "OUT OF BOUNDS"), an answer it cannot
// read or one missing aborts: the options and the dialogue disagree.
//
//   options_target INPUT
//
// Runs of more than 300 table rows skip the second step (they take long
// under the sanitizers, and the scenario code counts rows as ecodyn does).
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "model/coefficients.h"
#include "model/konsts.h"
#include "network/loader.h"
#include "run/cycle.h"
#include "run/scenario.h"

namespace {

using namespace ecodyn::runner;

[[noreturn]] void disagree(const std::string& what) {
  std::fprintf(stderr, "options_target: %s\n", what.c_str());
  std::abort();
}

std::string slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

// The names and the OLD VALUEs of the network under the model type, as
// ecodyn-run takes them from ecodyn's own loader and derivation.
Values values_of(const std::string& network, int model, std::vector<std::string>& names) {
  static ecodyn::Network net;
  if (!fio::connect(fio::network_file, network.c_str(), true) ||
      !fio::connect(fio::report, "/dev/null", false)) {
    disagree("cannot read " + network);
  }
  ecodyn::load_network(net);
  fio::close(fio::network_file);
  fio::close(fio::report);
  ecodyn::derive_coefficients(net, model);
  names.assign(1, "");
  for (int i = 1; i <= ecodyn::konsts.ncomp; ++i) {
    std::string n(net.names.name(i)[0].data(), 25);
    names.push_back(n.substr(0, n.find_last_not_of(' ') + 1));
  }
  const ecodyn::Konsts& k = ecodyn::konsts;
  return {net.biomass, k.inputs, k.cexp, k.cresp, k.cexch};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  std::vector<std::string> lines;
  {
    std::istringstream in(slurp(argv[1]));
    for (std::string l; std::getline(in, l) && lines.size() < 40;) lines.push_back(l);
  }
  lines.resize(std::max<std::size_t>(lines.size(), 6));
  const std::string network = std::string(ECODYN_SOURCE_DIR "/examples/") +
                              (lines[0].size() % 2 == 0 ? "grazing_chain.net"
                                                        : "networks/crystal_river_creek_control.net");
  std::string text;  // the answers
  Cycle cycle;
  std::vector<int> models;
  try {
    for (std::istringstream in(lines[0]); in.good();) {
      std::string m;
      std::getline(in, m, ',');
      if (m != "1" && m != "2" && m != "3") throw ScenarioError("--model");
      models.push_back(m[0] - '0');
    }
    std::vector<std::string> names;
    values_of(network, models[0], names);
    const int ncomp = static_cast<int>(names.size()) - 1;
    cycle.start = lines[1].empty() ? 0.0f : parse_real(lines[1], "--start");
    cycle.end = parse_real(lines[2], "--end");
    cycle.print = lines[3].empty() ? (cycle.end - cycle.start) / 100.0f
                                   : parse_real(lines[3], "--print");
    cycle.snapshot = lines[4].empty() ? 0.0f : parse_real(lines[4], "--snapshot");
    check_times(cycle);
    if (ncomp > 7) {
      cycle.followed = {1, 2, 3, 4, 5, 6, 7};
      if (!lines[5].empty()) {
        cycle.followed.clear();
        for (std::istringstream in(lines[5]); in.good();) {
          std::string f;
          std::getline(in, f, ',');
          cycle.followed.push_back(find_compartment(names, f, "--follow"));
        }
        if (cycle.followed.size() != 7) throw ScenarioError("--follow");
      }
    }
    for (std::size_t k = 6; k < lines.size(); ++k)
      cycle.perturbations.push_back(parse_perturbation(lines[k], names));
    for (const int model : models) {
      cycle.model = model;
      Values values = values_of(network, model, names);
      text += answers(cycle, values);
    }
  } catch (const ScenarioError&) {
    return 0;
  } catch (const fio::Stop&) {
    return 0;  // ecodyn stops on this network and model type, whatever the answers
  }
  if (expected_rows(cycle) > 300) return 0;

  // ecodyn in a private directory, its network once per cycle.
  char dir[] = "/dev/shm/ecodyn-fuzz-options.XXXXXX";
  if (mkdtemp(dir) == nullptr || chdir(dir) != 0) disagree("no working directory");
  std::string cycles;
  const std::string description = slurp(network);
  for (std::size_t m = 0; m < models.size(); ++m) cycles += description;
  std::ofstream("fort.7") << cycles;
  std::ofstream("answers") << text;
  if (!std::freopen("answers", "r", stdin) || !std::freopen("terminal", "w", stdout)) {
    disagree("cannot redirect");
  }
  const int status = ecodyn::run_program();
  std::fflush(stdout);
  const std::string terminal = slurp("terminal");
  for (const char* f : {"fort.7", "fort.8", "fort.18", "answers", "terminal"}) unlink(f);
  if (chdir("/") != 0) disagree("cannot leave the working directory");
  rmdir(dir);
  if (status == fio::exit_bad_io) disagree("ecodyn could not read the answers:\n" + text);
  for (const char* refusal : {"TRY AGAIN", "MUST BE", "OUT OF BOUNDS", "NOT ALLOWED"}) {
    if (terminal.find(refusal) != std::string::npos) {
      disagree(std::string("ecodyn refused an answer (") + refusal + "):\n" + text);
    }
  }
  return 0;
}
