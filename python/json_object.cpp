#include "json_object.hpp"

#include <cstdint>
#include <string>

namespace korvalinde::python {

namespace py = pybind11;

py::object json_object(const nlohmann::ordered_json& j) {
  using T = nlohmann::ordered_json::value_t;
  switch (j.type()) {
    case T::object: {
      py::dict d;
      for (const auto& [k, v] : j.items()) d[py::str(k)] = json_object(v);
      return d;
    }
    case T::array: {
      py::list l;
      for (const auto& v : j) l.append(json_object(v));
      return l;
    }
    case T::string: return py::str(j.get<std::string>());
    case T::boolean: return py::bool_(j.get<bool>());
    case T::number_integer: return py::int_(j.get<std::int64_t>());
    case T::number_unsigned: return py::int_(j.get<std::uint64_t>());
    case T::number_float: return py::float_(j.get<double>());
    default: return py::none();
  }
}

}  // namespace korvalinde::python
