// A JSON value as the Python object json.loads would give for it.
#pragma once

#include <pybind11/pybind11.h>

#include <nlohmann/json.hpp>

namespace korvalinde::python {

pybind11::object json_object(const nlohmann::ordered_json& j);

}  // namespace korvalinde::python
