#include <cstring>
#include <new>
#include <string>

#include "bindings/arguments.hpp"
#include "bindings/classes.hpp"
#include "bindings/errors.hpp"
#include "core/json_forms.hpp"
#include "core/text.hpp"

namespace bc::py {
namespace {

struct Held {
  std::string model_path;
  std::optional<std::string> output_path;
  OptimizationResult result;
};

struct PyOptimizationResult {
  PyObject_HEAD Held held;
};

PyTypeObject* g_type = nullptr;

const Held& held_of(PyObject* self) { return reinterpret_cast<PyOptimizationResult*>(self)->held; }

PyObject* make_str(std::string_view s) {
  return PyUnicode_FromStringAndSize(s.data(), static_cast<Py_ssize_t>(s.size()));
}

void dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  reinterpret_cast<PyOptimizationResult*>(self)->held.~Held();
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* repr(PyObject* self) {
  const auto& r = held_of(self).result;
  std::string text = "OptimizationResult(runtime=" + std::string(name(r.config.runtime)) +
                     ", quant=" + std::string(name(r.config.quantization)) +
                     ", tps=" + format_fixed(r.metrics.tokens_per_sec, 1) + ")";
  return make_str(text);
}

PyObject* to_json(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"to_json", {}, 0};
  std::vector<PyObject*> bound;
  if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
  return guarded([&] { return make_str(to_json_compact(held_of(self).result)); });
}

PyObject* get_runtime(PyObject* self, void*) {
  return make_str(name(held_of(self).result.config.runtime));
}
PyObject* get_quantization(PyObject* self, void*) {
  return make_str(name(held_of(self).result.config.quantization));
}
PyObject* get_threads(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(held_of(self).result.config.threads);
}
PyObject* get_gpu_layers(PyObject* self, void*) {
  return PyLong_FromUnsignedLong(held_of(self).result.config.gpu_layers);
}
PyObject* get_tokens_per_sec(PyObject* self, void*) {
  return PyFloat_FromDouble(held_of(self).result.metrics.tokens_per_sec);
}
PyObject* get_latency_ms(PyObject* self, void*) {
  return PyFloat_FromDouble(held_of(self).result.metrics.latency_ms);
}
PyObject* get_peak_memory_mb(PyObject* self, void*) {
  return PyLong_FromUnsignedLongLong(held_of(self).result.metrics.peak_memory_mb);
}
PyObject* get_output_path(PyObject* self, void*) {
  const auto& out = held_of(self).output_path;
  if (!out) Py_RETURN_NONE;
  return make_str(*out);
}

PyMethodDef methods[] = {
    {"to_json", reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(to_json)),
     METH_FASTCALL | METH_KEYWORDS, "to_json($self)\n--\n\nSerialize the result to a JSON string."},
    {nullptr, nullptr, 0, nullptr}};

PyGetSetDef getset[] = {
    {"runtime", get_runtime, nullptr,
     "Runtime name (e.g. `\"LlamaCpp\"`, `\"OnnxRuntime\"`, `\"TensorRT\"`).", nullptr},
    {"quantization", get_quantization, nullptr,
     "Quantization strategy name (e.g. `\"Q4_K_M\"`, `\"F16\"`).", nullptr},
    {"threads", get_threads, nullptr, "Number of CPU threads used by the selected configuration.",
     nullptr},
    {"gpu_layers", get_gpu_layers, nullptr,
     "Number of transformer layers offloaded to the GPU (0 = CPU-only).", nullptr},
    {"tokens_per_sec", get_tokens_per_sec, nullptr, "Sustained throughput in tokens per second.",
     nullptr},
    {"latency_ms", get_latency_ms, nullptr, "End-to-end inference latency in milliseconds.",
     nullptr},
    {"peak_memory_mb", get_peak_memory_mb, nullptr,
     "Peak memory usage during the benchmark run, in megabytes.", nullptr},
    {"output_path", get_output_path, nullptr,
     "Path to the re-quantized output model, or `None` if `llama-quantize`\n"
     "was not available and quantization was skipped.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr}};

const char doc[] =
    "Python-facing wrapper around [`OptimizationResult`].\n\n"
    "Returned by `optimize()`. Contains both the benchmark result and the path\n"
    "to the re-quantized model produced by `llama-quantize`.";

}  // namespace

PyTypeObject* create_optimization_result_type() {
  g_type = make_wrapper_type("brindlecove._brindlecove.OptimizationResult",
                             sizeof(PyOptimizationResult), doc, dealloc, repr, methods, getset);
  return g_type;
}

PyObject* new_optimization_result(std::string model_path, std::optional<std::string> output_path,
                                  const OptimizationResult& result) {
  Held held{std::move(model_path), std::move(output_path), result};
  PyObject* obj = g_type->tp_alloc(g_type, 0);
  if (obj == nullptr) return nullptr;
  new (&reinterpret_cast<PyOptimizationResult*>(obj)->held) Held(std::move(held));
  return obj;
}

bool view_optimization_result(PyObject* obj, const char* argument_name,
                              OptimizationResultView& out) {
  if (!PyObject_TypeCheck(obj, g_type)) {
    const char* full = Py_TYPE(obj)->tp_name;
    const char* dot = std::strrchr(full, '.');
    PyErr_Format(PyExc_TypeError, "argument '%s': must be OptimizationResult, not %s",
                 argument_name, dot ? dot + 1 : full);
    return false;
  }
  const Held& h = held_of(obj);
  out = {&h.model_path, &h.output_path, &h.result};
  return true;
}

}  // namespace bc::py
