#include <cstring>

#include "bindings/classes.hpp"

namespace bc::py {

PyObject* refuse_construction(PyTypeObject* type, PyObject*, PyObject*) {
  const char* full = type->tp_name;
  const char* dot = std::strrchr(full, '.');
  PyErr_Format(PyExc_TypeError, "No constructor defined for %s", dot ? dot + 1 : full);
  return nullptr;
}

PyTypeObject* make_wrapper_type(const char* qualified_name, size_t basic_size, const char* doc,
                                destructor dealloc, reprfunc repr, PyMethodDef* methods,
                                PyGetSetDef* getset) {
  PyType_Slot slots[] = {{Py_tp_doc, const_cast<char*>(doc)},
                         {Py_tp_new, reinterpret_cast<void*>(refuse_construction)},
                         {Py_tp_dealloc, reinterpret_cast<void*>(dealloc)},
                         {Py_tp_repr, reinterpret_cast<void*>(repr)},
                         {Py_tp_methods, methods},
                         {Py_tp_getset, getset},
                         {0, nullptr}};
  PyType_Spec type_spec = {qualified_name, static_cast<int>(basic_size), 0,
                      Py_TPFLAGS_DEFAULT | Py_TPFLAGS_IMMUTABLETYPE, slots};
  return reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&type_spec));
}

}  // namespace bc::py
