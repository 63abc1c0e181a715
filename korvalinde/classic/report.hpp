// The report on standard output and the per-bin result file.
#pragma once

#include <sys/stat.h>

#include <string>

namespace korvalinde {

struct FitSummary {
  double cut;       // DPA_CUT
  double serror;    // standard error
  double rerror;    // correlation magnitude
  double a, b;      // fitted location and scale
  int info;         // solver termination code
  double l2norm;    // residual norm
  double dx;        // bin width
};

// Writes the four parts of the report.
void write_report(const FitSummary& s);

// The one-line answers to a failed fit or an unusable probability.
void write_fit_failed();
void write_bad_probability();

// Writes the result file `name` (one row per bin) and the closing line on
// standard output. A name that is the sample file itself (`sample`), or was
// cut short (`cut`), is refused rather than written, and so is an empty
// name or a file that may not be written. A regular file is replaced whole
// or not at all (detail::OutputFile).
void printresults(const std::string& name, bool cut, const double params[2], int m,
                  const double* residuals, const struct stat& sample);

}  // namespace korvalinde
