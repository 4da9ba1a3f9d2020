// Writing an imported network as an ordinary network description: title,
// counts (type and time blank), names, the four lists and the flow list,
// each list holding its positive entries in increasing order and ended by
// the index -1 with a zero value.
#pragma once

#include <optional>

#include "convert.h"
#include "fio/fio.h"

namespace ecodyn::import {

// Writes the network to a unit; balance_digits blank when not given.
void write_network(fio::Unit unit, const ImportedNetwork& net, std::optional<int> balance_digits);

}  // namespace ecodyn::import
