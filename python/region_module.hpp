// The module's regional frequency analysis.
#pragma once

#include <pybind11/pybind11.h>

namespace korvalinde::python {

void add_region(pybind11::module_& m);

}  // namespace korvalinde::python
