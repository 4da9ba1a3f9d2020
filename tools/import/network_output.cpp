#include "network_output.h"

#include "network/writer.h"

namespace ecodyn::import {

void write_network(fio::Unit unit, const ImportedNetwork& net, std::optional<int> balance_digits) {
  if (balance_digits) {
    write_title(unit, net.names, *balance_digits);
  } else {
    write_title(unit, net.names);
  }
  write_counts(unit, net.ncomp, net.nliv);
  for (int i = 1; i <= net.ncomp; ++i) write_name(unit, net.names, i);

  const float zero[1] = {0.0f};
  for (const Vector& v : net.vectors) {
    for (int i = 1; i <= net.ncomp; ++i)
      if (v(i) > 0.0f) write_vector_record(unit, i, v.range(i, i));
    write_vector_record(unit, ndfl, zero);
  }
  for (int i = 1; i <= net.ncomp; ++i) {
    for (int j = 1; j <= net.ncomp; ++j) {
      const float flow[1] = {net.flows(i, j)};
      if (flow[0] > 0.0f) write_matrix_record(unit, i, j, flow);
    }
  }
  write_matrix_record(unit, ndfl, ndfl, zero);
}

}  // namespace ecodyn::import
