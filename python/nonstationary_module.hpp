// The module's fit on covariates: the non-stationary GEV and the trend tests.
#pragma once

#include <pybind11/pybind11.h>

namespace korvalinde::python {

void add_nonstationary(pybind11::module_& m);

}  // namespace korvalinde::python
