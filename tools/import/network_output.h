// Writing an imported network as an ordinary network description.
#pragma once

#include <optional>

#include "convert.h"
#include "fio/fio.h"

namespace ecodyn::import {

// Writes the network to a unit; balance_digits blank when not given.
void write_network(fio::Unit unit, const ImportedNetwork& net, std::optional<int> balance_digits);

}  // namespace ecodyn::import
