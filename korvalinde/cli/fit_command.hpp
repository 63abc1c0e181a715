// The modern command line: korvalinde fit [OPTIONS] FILE..., --help, --version.
#pragma once

#include <string>

namespace korvalinde::cli {

// Runs the command line with arguments; returns the exit status: 0 when
// every file was fitted, 1 when at least one failed, 2 for a usage error.
int main(int argc, char** argv);

// "korvalinde VERSION (COMMIT)", as --version and every run record say it.
std::string version_text();

}  // namespace korvalinde::cli
