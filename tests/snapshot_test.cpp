// Network snapshots: exact records of the worked two-compartment example
// under each flow law, what is left out, an extinct compartment, snapshots
// appended one after another, the loaded state reproduced, and the
// out-of-bounds stop that leaves no partial description behind.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "fio/fio.h"
#include "integrate/xtinct.h"
#include "model/coefficients.h"
#include "model/konsts.h"
#include "model/snapshot.h"
#include "support/model_networks.h"
#include "support/scratch.h"
#include "support/terminal.h"

namespace {

using ecodyn::konsts;
using ecodyn::Network;
using ecodyn::snapit;
using ecodyn::Vector;
using ecodyn::test::blanks;
using ecodyn::test::read_file;

class Snapshot : public testing::Test {
 protected:
  ~Snapshot() override {
    fio::close(fio::snapshot_file);
    fio::close(fio::report);
  }
  // Derives the example's coefficients under a model type and returns it.
  Network example(int type) {
    Network net = ecodyn::test::two_compartments();
    ecodyn::derive_coefficients(net, type);
    konsts.tmax = 6.25f;
    return net;
  }
  // Writes a snapshot of net at biomasses y and time t.
  void snap(Network& net, const Vector& y, float t) {
    snapit(t, net.names, net.balance_digits, y, net.exports, net.respirations, net.exchange, 75);
  }
  // Returns the snapshot file written so far; the unit stays open, as it
  // does for the whole run.
  std::string file() {
    std::fflush(nullptr);
    return read_file("fort.18");
  }
  ecodyn::test::ScratchDir dir_;
};

using SnapshotDeathTest = Snapshot;

Vector biomasses(float y1, float y2) {
  Vector y;
  y(1) = y1;
  y(2) = y2;
  return y;
}

// Title, counts and name records of the example, as written.
std::string head(int type, const char* time) {
  return "TWO COMPARTMENTS" + blanks(78 - 16) + " 4\n" +  //
         "  2  1  " + std::to_string(type) + time + "\n" +  //
         "PLANTS" + blanks(22) + "\n" +                      //
         "DETRITUS" + blanks(20) + "\n";
}

TEST_F(Snapshot, LotkaVolterraAtTheSteadyState) {
  // The living diagonal carries the self-coefficient in the biomass record
  // and has no matrix record: its flow -0.16*10*10 is negative. The flow
  // from detritus is 0.005*20*10 with 0.005 held as 0.0049999999, which
  // gives 0.99999994 in single precision.
  Network net = example(3);
  snap(net, net.biomass, 2.5f);
  EXPECT_EQ(head(3, "     2.500") +
                "  1  .1000000E+02  .1000000E+02 -.1600000E+00\n"
                "  2  .2000000E+02  .2000000E+02  .0000000E+00\n"
                " -1  .6250000E+01\n"
                "  1  .5000000E+01\n"
                " -1  .0000000E+00\n"
                "  1  .1000000E+01  .1000000E+00\n"
                "  2  .2000000E+01  .1000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  .2000000E+01  .2000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  2  .3000000E+01  .3000000E+00\n"
                "  2  1  .9999999E+00  .5000000E-02\n"
                " -1 -1  .0000000E+00\n",
            file());
  // The program state now holds the current flows.
  EXPECT_FLOAT_EQ(-16.0f, net.exchange(1, 1));
  EXPECT_FLOAT_EQ(1.0f, net.exchange(2, 1));
}

TEST_F(Snapshot, PredatorControlWithTheDonorBelowItsReference) {
  // Detritus at half its reference: its flow into the plants is
  // exp(1 - 20/10) * 0.1 * 10, with exp(-1) = 0.36787944 held in single
  // precision as 0.36787945.
  Network net = example(1);
  snap(net, biomasses(10.0f, 10.0f), 0.0f);
  EXPECT_EQ(head(1, "      .000") +
                "  1  .1000000E+02  .1000000E+02  .0000000E+00\n"
                "  2  .1000000E+02  .2000000E+02  .0000000E+00\n"
                " -1  .6250000E+01\n"
                "  1  .5000000E+01\n"
                " -1  .0000000E+00\n"
                "  1  .1000000E+01  .1000000E+00\n"
                "  2  .1000000E+01  .1000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  .2000000E+01  .2000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  2  .3000000E+01  .3000000E+00\n"
                "  2  1  .3678795E+00  .1000000E+00\n"
                " -1 -1  .0000000E+00\n",
            file());
}

TEST_F(Snapshot, BiomassNotPositiveIsLeftOutUnderDonorControlAndLotkaVolterra) {
  for (const int type : {2, 3}) {
    Network net = example(type);
    snap(net, biomasses(10.0f, type == 2 ? 0.0f : -4.0f), 1.0f);
  }
  const std::string text = file();
  // Donor control, detritus empty: no biomass, export or outflow records.
  EXPECT_NE(std::string::npos,
            text.find("  1  .1000000E+02  .1000000E+02  .0000000E+00\n"
                      " -1  .6250000E+01\n"
                      "  1  .5000000E+01\n"
                      " -1  .0000000E+00\n"
                      "  1  .1000000E+01  .1000000E+00\n"
                      " -1  .0000000E+00\n"
                      "  1  .2000000E+01  .2000000E+00\n"
                      " -1  .0000000E+00\n"
                      "  1  2  .3000000E+01  .3000000E+00\n"
                      " -1 -1  .0000000E+00\n"))
      << text;
  // Lotka-Volterra, detritus negative: likewise unlisted.
  EXPECT_NE(std::string::npos,
            text.find("  1  .1000000E+02  .1000000E+02 -.1600000E+00\n"
                      " -1  .6250000E+01\n"))
      << text;
}

TEST_F(Snapshot, ExtinctCompartment) {
  Network net = example(2);
  ecodyn::WorkVector y;
  y(1) = 10.0f;
  y(2) = 0.0f;
  ecodyn::test::terminal_output([&] { ecodyn::xtinct(4.0f, y, 2); });
  snap(net, biomasses(y(1), y(2)), 4.0f);
  EXPECT_EQ(head(2, "     4.000") +
                "  1  .1000000E+02  .1000000E+02  .0000000E+00\n"
                "  2  .1000000E-08  .1000000E-08  .0000000E+00\n"
                " -1  .6250000E+01\n"
                "  1  .5000000E+01\n"
                "  2  .1000000E-09\n"
                " -1  .0000000E+00\n"
                "  1  .1000000E+01  .1000000E+00\n"
                " -1  .0000000E+00\n"
                "  1  .2000000E+01  .2000000E+00\n"
                "  2  .1000000E-09  .1000000E+00\n"
                " -1  .0000000E+00\n"
                " -1 -1  .0000000E+00\n",
            file());
}

TEST_F(Snapshot, SnapshotsFollowOneAnother) {
  Network net = example(2);
  snap(net, net.biomass, 1.0f);
  const std::string first = file();
  snap(net, biomasses(12.0f, 18.0f), 2.0f);
  const std::string both = file();
  ASSERT_EQ(0u, both.find(first));
  const std::string second = both.substr(first.size());
  EXPECT_EQ(0u, second.find(head(2, "     2.000") + "  1  .1200000E+02  .1000000E+02")) << second;
}

// Returns the values of every list record (index > 0) of one snapshot, in
// the order written, keyed by list: 0 biomass ... 4 matrix.
struct Record {
  int list, i, j;
  std::vector<float> values;
};

std::vector<Record> list_records(const std::string& text, int ncomp) {
  std::istringstream in(text);
  std::string line;
  for (int k = 0; k < 2 + ncomp; ++k) std::getline(in, line);
  std::vector<Record> records;
  int list = 0;
  while (std::getline(in, line)) {
    Record r{list, std::atoi(line.substr(0, 3).c_str()), 0, {}};
    std::size_t at = 3;
    if (list == 4) {
      r.j = std::atoi(line.substr(3, 3).c_str());
      at = 6;
    }
    for (; at < line.size(); at += 14) {
      r.values.push_back(std::strtof(line.substr(at, 14).c_str(), nullptr));
    }
    if (r.i <= 0) {
      ++list;
      continue;
    }
    records.push_back(r);
  }
  return records;
}

class FirstSnapshot : public testing::TestWithParam<int> {
 protected:
  ~FirstSnapshot() override { fio::close(fio::snapshot_file); }
  ecodyn::test::ScratchDir dir_;
};

TEST_P(FirstSnapshot, OfAnUnperturbedBalancedNetworkReproducesTheLoadedValues) {
  Network net = ecodyn::test::balanced_network(6, 4);
  const Network loaded = net;
  ecodyn::derive_coefficients(net, GetParam());
  snapit(0.0f, net.names, net.balance_digits, net.biomass, net.exports, net.respirations,
         net.exchange, 75);
  fio::close(fio::snapshot_file);
  const auto near = [](float expected, float actual) {
    EXPECT_NEAR(expected, actual, 1.0e-6f * expected);
  };
  int count[5] = {};
  for (const Record& r : list_records(read_file("fort.18"), 6)) {
    ++count[r.list];
    switch (r.list) {
      case 0:
        near(loaded.biomass(r.i), r.values[0]);
        near(loaded.biomass(r.i), r.values[1]);  // reference biomass
        break;
      case 1: near(konsts.inputs(r.i), r.values[0]); break;
      case 2: near(loaded.exports(r.i), r.values[0]); break;
      case 3: near(loaded.respirations(r.i), r.values[0]); break;
      case 4: near(loaded.exchange(r.i, r.j), r.values[0]); break;
    }
  }
  // Every positive flow is listed, except a living diagonal under
  // Lotka-Volterra, which is the negative self-term.
  int flows = 0;
  for (int i = 1; i <= 6; ++i) {
    for (int j = 1; j <= 6; ++j) {
      const bool self_term = GetParam() == 3 && i == j && i <= 4;
      if (loaded.exchange(i, j) > 0 && !self_term) ++flows;
    }
  }
  EXPECT_EQ(6, count[0]);
  EXPECT_EQ(6, count[1]);
  EXPECT_EQ(6, count[2]);
  EXPECT_EQ(6, count[3]);
  EXPECT_EQ(flows, count[4]);
}

INSTANTIATE_TEST_SUITE_P(Snapshot, FirstSnapshot, testing::Values(1, 2, 3));

TEST_F(SnapshotDeathTest, PredatorControlStopsBeforeWritingAnythingOfAnOutOfBoundsSnapshot) {
  Network net = example(1);
  snap(net, net.biomass, 0.0f);
  const std::string before = file();
  EXPECT_ERROR_STOP(snap(net, biomasses(10.0f, 0.0f), 1.0f), " BIOMASS  2 IS OUT OF BOUNDS.\n");
  EXPECT_EQ(before, read_file("fort.18"));
  EXPECT_ERROR_STOP(snap(net, biomasses(-1.0f, 0.0f), 1.0f), " BIOMASS  1 IS OUT OF BOUNDS.\n");
  EXPECT_EQ(before, read_file("fort.18"));
}

}  // namespace
