#include "korvalinde/classic/report.hpp"

#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "dnls/io/format.hpp"
#include "dnls/io/units.hpp"
#include "korvalinde/classic/blocks.hpp"
#include "korvalinde/classic/diagnose.hpp"
#include "korvalinde/classic/model.hpp"
#include "korvalinde/classic/sysfile.hpp"
#include "korvalinde/core/result_table.hpp"
#include "korvalinde/detail/output_file.hpp"

namespace korvalinde {

namespace fmt = dnls::fmt;
using dnls::io::kStdout;

namespace {

constexpr int kResultUnit = 21;
constexpr std::string_view kRule = "===========================================";
constexpr std::string_view kCannotWriteText = " Can not open file for WRITE";

}  // namespace

void write_report(const FitSummary& s) {
  fmt::write(kStdout,
             "(2x,F10.5,1x,F12.7,1x,F10.7,3x,'DPA_CUT  SERROR  RERROR',/             2x,F15.5,2x,"
             "F15.5,3x, 'FITTING PARAMETERs ',/)",
             {s.cut, s.serror, s.rerror, s.a, s.b});
  fmt::write_free(kStdout, kRule);
  fmt::write_free(kStdout, "          FITTING RESULTS                  ");
  fmt::write_free(kStdout, kRule);
  fmt::write(kStdout,
             "(2x,I15,20x, 'EXIT PATAMETER (POSITIVE: NORMAL EXIT) ',/,        2x,2F15.7,5x,"
             "'FINAL APPROXIMATE SOLUTION',/,2x,F15.7,20x,         'FINAL L2 NORM OF THE "
             "RESIDUALS',/,2x,F15.7,20x,                  'FINAL STAND ERROR',/,2x,F15.7,20x,"
             "'DELTA X')",
             {s.info, s.a, s.b, s.l2norm, s.serror, s.dx});
  fmt::write(kStdout,
             "(//,'Extreme value fitting: ',//,                                10x, "
             "'f(x) = exp(-(x-a)/b)*exp(-(exp(-(x-a)/b))/b',/)");
}

void write_fit_failed() {
  fmt::write(kStdout, "(2x,I15,20x, 'EXIT PATAMETER < 0, ERROR FITTING  ',//)", {-2});
}

void write_bad_probability() {
  fmt::write(kStdout, "(2x,I15,20x, 'ERROR INPUT FOR PERCENTAGE',//)", {-1});
}

void printresults(const std::string& name, bool cut, const double params[2], int m,
                  const double* residuals, const struct stat& sample) {
  // Opening the sample file for writing would destroy the measurements.
  if (same_file(name, sample)) {
    fmt::write_free(kStdout, kCannotWriteText);
    diagnose("Result file %s is the sample file; it was not overwritten", name.c_str());
    return;
  }
  // A name with a NUL byte would open a shorter, different name; one cut
  // short would open another.
  if (cut || name.find('\0') != std::string::npos) {
    fmt::write_free(kStdout, kCannotWriteText);
    return;
  }
  detail::OutputFile out;
  if (out.open(name) != 0) {
    fmt::write_free(kStdout, kCannotWriteText);
    return;
  }
  dnls::io::attach_unit(kResultUnit, out.fd());
  fmt::write(kResultUnit, kResultHeaderLayout, {"#", "X(i)", "Y(i)", "Fitted_Y(i)", "DELTA"});
  for (int i = 0; i < m; ++i) {
    fmt::write(kResultUnit, kResultRowLayout,
               {data1.x[i], data1.y[i], extremeval(data1.x[i], params[0], params[1]),
                residuals[i]});
  }
  // The file is complete before the closing line claims success.
  const int err = out.commit(dnls::io::close_unit(kResultUnit));
  if (err != 0) {
    diagnose("Can not write result file %s: %s", name.c_str(), std::strerror(err));
    return;
  }
  fmt::write(kStdout, "(A,//)", {"Fitting results data see: korvalindetingresult.dat"});
}

}  // namespace korvalinde
