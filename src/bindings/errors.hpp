#pragma once
// Where error values become Python exceptions.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <new>

#include "core/error.hpp"

namespace bc::py {

// RuntimeError carrying the whole chain joined by ": ". Returns nullptr.
PyObject* raise_error(const Error& error);

// The module's internal-fault exception (derives from BaseException, so that
// ordinary `except Exception` handlers do not swallow a broken invariant).
PyObject* internal_fault_type();
bool create_internal_fault_type();

// Runs a binding body; a C++ exception escaping it (a broken invariant or
// an allocation failure) becomes a Python exception instead of terminating
// the interpreter.
template <class Body>
PyObject* guarded(Body&& body) {
  try {
    return body();
  } catch (const std::bad_alloc&) {
    return PyErr_NoMemory();
  } catch (const std::exception& e) {
    PyErr_SetString(internal_fault_type(), e.what());
    return nullptr;
  } catch (...) {
    PyErr_SetString(internal_fault_type(), "unknown internal fault");
    return nullptr;
  }
}

}  // namespace bc::py
