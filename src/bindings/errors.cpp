#include "bindings/errors.hpp"

namespace bc::py {
namespace {
// Owned for the life of the interpreter, like the module's type objects.
PyObject* g_internal_fault = nullptr;
}  // namespace

PyObject* raise_error(const Error& error) {
  PyErr_SetString(PyExc_RuntimeError, error.full_message().c_str());
  return nullptr;
}

PyObject* internal_fault_type() { return g_internal_fault; }

bool create_internal_fault_type() {
  if (g_internal_fault != nullptr) return true;
  g_internal_fault = PyErr_NewExceptionWithDoc(
      "brindlecove._brindlecove.InternalFault",
      "A state that correct code never reaches; please report it.", PyExc_BaseException, nullptr);
  return g_internal_fault != nullptr;
}

}  // namespace bc::py
