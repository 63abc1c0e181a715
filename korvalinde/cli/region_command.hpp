// The command line's regional frequency analysis:
// korvalinde region [OPTIONS] FILE...
#pragma once

namespace korvalinde::cli {

// argv[0] is "region", argv[-1] the program as it was called (the run
// record quotes the whole command line). Returns the exit status: 0 when
// the region was analysed, 1 when an input was at fault, a site was refused
// or an output could not be written, 2 for a usage error (an empty region
// included).
int region_main(int argc, char** argv);

}  // namespace korvalinde::cli
