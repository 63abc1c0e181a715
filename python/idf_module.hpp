// The module's intensity-duration-frequency function.
#pragma once

#include <pybind11/pybind11.h>

namespace korvalinde::python {

void add_idf(pybind11::module_& m);

}  // namespace korvalinde::python
