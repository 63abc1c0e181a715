// The run: control input, loading, binning, fit, report and result file.
#pragma once

namespace korvalinde {

// Runs one job on the standard streams and returns the exit status: 0 on
// every handled path, 2 for unreadable control input, 1 when standard output
// cannot be written.
int run();

}  // namespace korvalinde
