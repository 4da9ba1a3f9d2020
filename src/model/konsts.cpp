#include "model/konsts.h"

namespace ecodyn {

Konsts konsts;

}  // namespace ecodyn
