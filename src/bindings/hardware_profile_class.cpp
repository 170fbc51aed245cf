#include <cstring>
#include <new>
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/classes.hpp"
#include "bindings/errors.hpp"
#include "core/json_forms.hpp"
#include "hardware/detect.hpp"

namespace bc::py {
namespace {

struct PyHardwareProfile {
  PyObject_HEAD HardwareProfile record;
};

PyTypeObject* g_type = nullptr;

const HardwareProfile& record_of(PyObject* self) {
  return reinterpret_cast<PyHardwareProfile*>(self)->record;
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<PyHardwareProfile*>(self)->record.~HardwareProfile();
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* repr(PyObject* self) {
  const HardwareProfile& p = record_of(self);
  std::string text = "HardwareProfile(cpu_cores=" + std::to_string(p.cpu.core_count) +
                     ", gpu=" + (p.gpu ? p.gpu->name : std::string("None")) + ")";
  return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

PyObject* detect(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"detect", {}, 0};
  std::vector<PyObject*> bound;
  if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
  return guarded([] { return new_hardware_profile(detect_hardware()); });
}

PyObject* to_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"to_json", {}, 0};
  std::vector<PyObject*> bound;
  if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
  return guarded([&] {
    std::string text = to_json_compact(record_of(self));
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
  });
}

PyObject* get_cpu_cores(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(record_of(self).cpu.core_count);
}
PyObject* get_gpu_model(PyObject* self, void*) {
  const auto& gpu = record_of(self).gpu;
  if (!gpu) Py_RETURN_NONE;
  return PyUnicode_FromStringAndSize(gpu->name.data(), static_cast<Py_ssize_t>(gpu->name.size()));
}
PyObject* get_gpu_vram_mb(PyObject* self, void*) {
  const auto& gpu = record_of(self).gpu;
  if (!gpu) Py_RETURN_NONE;
  return PyLong_FromUnsignedLongLong(gpu->vram_mb);
}
PyObject* get_ram_total_mb(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(record_of(self).ram.total_mb);
}

PyMethodDef methods[] = {
    {"detect", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(detect)),
     METH_FASTCALL | METH_KEYWORDS | METH_STATIC,
     "detect()\n--\n\nDetect the current machine's hardware and return a profile."},
    {"to_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(to_json)),
     METH_FASTCALL | METH_KEYWORDS,
     "to_json($self)\n--\n\nSerialize the profile to a JSON string."},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef getset[] = {
    {"cpu_cores", get_cpu_cores, nullptr, "Number of logical CPU cores detected.", nullptr},
    {"gpu_model", get_gpu_model, nullptr, "GPU model name, or `None` if no GPU was detected.",
     nullptr},
    {"gpu_vram_mb", get_gpu_vram_mb, nullptr,
     "GPU VRAM in megabytes, or `None` if no GPU was detected.", nullptr},
    {"ram_total_mb", get_ram_total_mb, nullptr, "Total system RAM in megabytes.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

const char doc[] =
    "Python-facing wrapper around [`HardwareProfile`].\n\n"
    "Obtained via `PyHardwareProfile.detect()` or `profile_hardware()`.";

}  // namespace

PyTypeObject* create_hardware_profile_type() {
  g_type = make_wrapper_type("brindlecove._brindlecove.HardwareProfile", sizeof(PyHardwareProfile),
                             doc, dealloc, repr, methods, getset);
  return g_type;
}

PyObject* new_hardware_profile(const HardwareProfile& profile) {
  // Copy first: once the object exists its record must be constructed.
  HardwareProfile copy = profile;
  PyObject* obj = g_type->tp_alloc(g_type, 0);
  if (obj == nullptr) return nullptr;
  new (&reinterpret_cast<PyHardwareProfile*>(obj)->record) HardwareProfile(std::move(copy));
  return obj;
}

}  // namespace bc::py
