// The run: control input, loading, binning, fit, report and result file.
#pragma once

namespace korvalinde {

// Runs one job on the standard streams and returns the exit status: 0 on
// every handled path, 2 for unreadable control input, 1 when standard output
// cannot be written.
int run();

// The stages after loading samples 1..count into data0: binning, fit,
// statistics and the report on standard output. Returns true when the report
// was written; otherwise one of the rejection lines was. Nothing in here
// allocates memory.
bool fit_and_report(int count, int bins, double probability);

}  // namespace korvalinde
