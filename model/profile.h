// The profile interval of n_1: where the fit's sum, with the second
// parameter refitted at each n_1 when it is fitted, stays under the
// threshold of a confidence level. Where the lines only bound n_1 from above
// (optically thin lines), the interval reaches the model's lower edge and is
// an upper limit.
#pragma once

#include <string>

#include "model/fit.h"

namespace lumora {

struct ProfileInterval {
  double level = 0;
  double threshold = 0;        // of the sum (chi-square when weighted)
  double log10N1From = 0;      // the model's lower edge for an upper limit
  double log10N1To = 0;
  bool upperLimit = false;     // no lower bound above the model's lower edge
  bool lowerLimit = false;     // no upper bound below the model's upper edge
};

// Scans log10 n_1 from the fit's optimum outwards. The threshold is the
// chi-square's (minimum plus the level's chi-square(1) point) for a weighted
// fit, else the F test's (minimum times 1 + F(1, dof) / dof). Raises Error
// for a level outside (0, 1) or a fit without degrees of freedom.
ProfileInterval ProfileLog10N1(EbfModel& model, const FitRequest& request, const FitResult& fit,
                               double level);

// "Profile 95 %: n_1 3.91E+016 .. 4.26E+016 m-3", or "n_1 < 5.2E+015 m-3 (95 %)".
std::string ProfileText(const ProfileInterval& interval);

}  // namespace lumora
