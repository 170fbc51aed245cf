#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef module_def = {PyModuleDef_HEAD_INIT, "_brindlecove", nullptr, -1,
                                 nullptr, nullptr, nullptr, nullptr, nullptr};

PyMODINIT_FUNC PyInit__brindlecove(void) { return PyModule_Create(&module_def); }
