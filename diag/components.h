// The card's COM components: registered, created and answering the
// interfaces the library asks them for.
#pragma once

#include "report.h"

namespace diag {

// One row per component; true when all four pass.
bool checkComponents(Report& report);

} // namespace diag
