#include "network_output.h"

#include "network/writer.h"

namespace ecodyn::import {

void write_network(fio::Unit unit, const ImportedNetwork& net, std::optional<int> balance_digits) {
  const Description d{&net.names,
                      balance_digits,
                      net.ncomp,
                      net.nliv,
                      &net.vectors[biomass],
                      &net.vectors[inputs],
                      &net.vectors[exports],
                      &net.vectors[respirations],
                      &net.flows};
  ecodyn::write_network(unit, d);
}

}  // namespace ecodyn::import
