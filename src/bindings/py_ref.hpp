#pragma once
// Owns one strong reference; the error paths of the binding code rely on it
// so that no new reference is leaked when a later step fails.

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <utility>

namespace bc::py {

class PyRef {
 public:
  PyRef() = default;
  explicit PyRef(PyObject* owned) : p_(owned) {}
  PyRef(const PyRef&) = delete;
  PyRef& operator=(const PyRef&) = delete;
  PyRef(PyRef&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  PyRef& operator=(PyRef&& o) noexcept {
    if (this != &o) {
      Py_XDECREF(p_);
      p_ = std::exchange(o.p_, nullptr);
    }
    return *this;
  }
  ~PyRef() { Py_XDECREF(p_); }

  PyObject* get() const { return p_; }
  PyObject* release() { return std::exchange(p_, nullptr); }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  PyObject* p_ = nullptr;
};

}  // namespace bc::py
