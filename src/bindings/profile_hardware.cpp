#include "bindings/arguments.hpp"
#include "bindings/classes.hpp"
#include "bindings/errors.hpp"
#include "bindings/functions.hpp"
#include "hardware/detect.hpp"

namespace bc::py {

PyObject* profile_hardware(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"profile_hardware", {}, 0};
  std::vector<PyObject*> bound;
  if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
  return guarded([] { return new_hardware_profile(detect_hardware()); });
}

}  // namespace bc::py
