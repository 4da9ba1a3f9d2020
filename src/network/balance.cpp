#include "network/balance.h"

#include <cmath>

#include "fio/fio.h"
#include "model/konsts.h"

namespace ecodyn {

Balance balance_of(int ncomp, const Vector& inputs, const Vector& exports,
                   const Vector& respirations, const Matrix& exchange, float tolerance) {
  Balance b;
  for (int i = 1; i <= ncomp; ++i) {
    b.inflow(i) = inputs(i);
    b.outflow(i) = exports(i) + respirations(i);
    for (int k = 1; k <= ncomp; ++k) {
      b.inflow(i) = b.inflow(i) + exchange(k, i);
      b.outflow(i) = b.outflow(i) + exchange(i, k);
    }
    b.imbalance(i) = b.inflow(i) - b.outflow(i);
    if (std::fabs(b.imbalance(i)) < tolerance) b.imbalance(i) = 0.0f;
  }
  return b;
}

void check_balance(Network& net) {
  const int ncomp = konsts.ncomp;
  const Balance b = balance_of(ncomp, konsts.inputs, net.exports, net.respirations, net.exchange,
                               net.balance_tolerance);
  const Vector &inflow = b.inflow, &outflow = b.outflow, &imbalance = b.imbalance;
  float total = 0.0f;
  for (int i = 1; i <= ncomp; ++i) total = total + std::fabs(imbalance(i));

  if (total > 0.0f) {
    fio::write(fio::terminal, "(/,1X,'INPUT NETWORK IS NOT BALANCED TO YOUR SPECIFICATIONS.',/)");
    fio::write(fio::terminal, "(1X,25HCOMPARISON OF THROUGHPUTS)");
    fio::write(fio::terminal, "(/,6X,6HINPUTS,6X,7HOUTPUTS,4X,9HIMBALANCE,/)");
    for (int i = 1; i <= ncomp; ++i) {
      fio::write(fio::terminal, "(2X,I2,2X,E8.3,4X,E8.3,4X,E9.3)", i, inflow(i), outflow(i),
                 imbalance(i));
    }
    fio::write(fio::terminal, "(/)");
    fio::write(fio::terminal,
               "(1X,'IF YOU WISH TO BALANCE THE INPUT AND RERUN, TRY THE FOLLOWING:',/,4X,"
               "'MODEL TYPE = 2',/,4X,'START TIME = 0.',/,4X,'END TIME = CA. 5 OR 10 X LONGEST "
               "THROUGHPUT TIME',/,4X,'PRINT INTERVAL < OR = 0.1 X END TIME',/,4X,'SNAPSHOT "
               "INTERVAL = 0 (DEFAULT)',/,4X,'NO PARAMETER PERTURBATIONS',/,4X,'A BALANCED "
               "NETWORK SHOULD ISSUE FROM UNIT 18.',/,/)");
  }

  // Throughput times: biomass over the mean of the two totals. Strict
  // comparisons leave a tie with the lower compartment number.
  ThroughputTimes& t = net.times;
  t.shortest = 1.0e25f;
  t.longest = -1.0e25f;
  t.shortest_in = 0;
  t.longest_in = 0;
  for (int i = 1; i <= ncomp; ++i) {
    const float throughput = (inflow(i) + outflow(i)) * 0.5f;
    if (throughput <= 0.0f) fio::error_stop("(1X,'ALL THROUGHPUTS MUST BE POSITIVE.')");
    const float time = net.biomass(i) / throughput;
    if (time < t.shortest) {
      t.shortest = time;
      t.shortest_in = i;
    }
    if (time > t.longest) {
      t.longest = time;
      t.longest_in = i;
    }
  }
  fio::write(fio::terminal, "(1X,'SHORTEST THROUGHPUT TIME IS ',E10.4,' IN ',I2)", t.shortest,
             t.shortest_in);
  fio::write(fio::terminal, "(1X,' LONGEST THROUGHPUT TIME IS ',E10.4,' IN ',I2,/)", t.longest,
             t.longest_in);
}

}  // namespace ecodyn
