// The command line's intensity-duration-frequency analysis:
// korvalinde idf [OPTIONS] FILE.
#pragma once

namespace korvalinde::cli {

// main's arguments: argv[1] is "idf". Returns the exit status: 0 when every series was
// analysed, 1 when one failed or an output could not be written, 2 for a
// usage error.
int idf_main(int argc, char** argv);

}  // namespace korvalinde::cli
