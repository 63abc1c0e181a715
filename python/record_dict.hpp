// The result of one fit as Python objects, built straight from the record:
// the same keys in the same order, and the same values, as json.loads of the
// command line's JSON line for that record (undefined numbers are None), with
// `loc` and `scale` beside `a` and `b`. Array fits have no dated summary and
// no peaks over a threshold, so neither is converted.
#pragma once

#include <pybind11/pybind11.h>

#include <string>

#include "korvalinde/records/family_result.hpp"
#include "korvalinde/records/result.hpp"

namespace korvalinde::python {

pybind11::dict record_dict(const FitResult& result);

// Raises korvalinde.InputError(message, file): a sample that cannot be
// fitted (arrays have no lines or columns; an empty name is no file).
[[noreturn]] void raise_input_error(const std::string& message, const std::string& name);

// The sample L-moments' dict: l1, then l2 and t, t3, t4, t5 up to order nmom.
pybind11::dict lmoments_dict(const LmomentsRecord& l, int nmom);

}  // namespace korvalinde::python
