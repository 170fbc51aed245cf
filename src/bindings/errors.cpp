#include "bindings/errors.hpp"

#include <string>

namespace bc::py {
namespace {
// Owned for the life of the interpreter, like the module's type objects.
PyObject* g_internal_fault = nullptr;
}  // namespace

PyObject* raise_error(const Error& error) {
  // Messages may quote bytes read from files or tools; a NUL or a stray
  // byte must not cut the message short or replace the RuntimeError.
  const std::string text = error.full_message();
  PyObject* message =
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
  if (message == nullptr) return nullptr;
  PyErr_SetObject(PyExc_RuntimeError, message);
  Py_DECREF(message);
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
