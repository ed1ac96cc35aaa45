// A check of one element's data before it is used: the level file and the
// line file it names, read as the element change reads them, and what the
// model needs of them (every line tied to its levels, weights from the
// levels' J, four 1s levels first for "1s levels", the analysis pair).
#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "model/element_data.h"

namespace lumora {

struct ElementCheck {
  std::vector<std::string> report;  // what was found, one finding a line
  std::vector<std::string> faults;  // each fault, also in the report with "FAULT: "
  bool Passed() const { return faults.empty(); }
};

// Checks the element's files. pair: the section's analysis pair, if any.
// Never raises for faults of the data; each becomes a fault of the result.
ElementCheck CheckElement(const ElementSource& source,
                          const std::optional<std::pair<double, double>>& pair);

}  // namespace lumora
