// The churn mode of the soak run (soak --churn [seconds]).
#pragma once

namespace kelvo::bench {

// Runs the headless relay for ASeconds under churn; prints the figures and returns the exit
// code for the soak program (0 when everything held).
int RunChurnSoak(double ASeconds);

}  // namespace kelvo::bench
