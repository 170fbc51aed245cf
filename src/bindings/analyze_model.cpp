#include "bindings/arguments.hpp"
#include "bindings/errors.hpp"
#include "bindings/functions.hpp"
#include "bindings/py_ref.hpp"
#include "model/model_description.hpp"

namespace bc::py {
namespace {

PyObject* to_py(const std::optional<uint64_t>& v) {
  if (!v) Py_RETURN_NONE;
  return PyLong_FromUnsignedLongLong(*v);
}
PyObject* to_py(const std::optional<uint32_t>& v) {
  if (!v) Py_RETURN_NONE;
  return PyLong_FromUnsignedLong(*v);
}
PyObject* to_py(const std::optional<double>& v) {
  if (!v) Py_RETURN_NONE;
  return PyFloat_FromDouble(*v);
}
PyObject* to_py(const std::optional<std::string>& v) {
  if (!v) Py_RETURN_NONE;
  // Metadata text is not guaranteed to be UTF-8; never fail on it.
  return PyUnicode_DecodeUTF8(v->data(), static_cast<Py_ssize_t>(v->size()), "replace");
}

bool put(PyObject* dict, const char* key, PyObject* value) {
  PyRef owned(value);
  return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

PyObject* model_dict(const ModelIr& ir) {
  PyRef dict(PyDict_New());
  if (!dict) return nullptr;
  PyObject* d = dict.get();
  bool ok = put(d, "format", PyUnicode_FromString(std::string(name(ir.format)).c_str())) &&
            put(d, "param_count", to_py(ir.param_count)) &&
            put(d, "architecture", to_py(ir.architecture)) &&
            put(d, "context_length", to_py(ir.context_length)) &&
            put(d, "layer_count", to_py(ir.layer_count)) &&
            put(d, "hidden_size", to_py(ir.hidden_size)) &&
            put(d, "attention_head_count", to_py(ir.attention_head_count)) &&
            put(d, "attention_head_count_kv", to_py(ir.attention_head_count_kv)) &&
            put(d, "feed_forward_length", to_py(ir.feed_forward_length)) &&
            put(d, "kv_cache_size_mb", to_py(ir.kv_cache_size_mb)) &&
            put(d, "memory_footprint_mb", to_py(ir.memory_footprint_mb)) &&
            put(d, "flops_per_token", to_py(ir.flops_per_token));
  return ok ? dict.release() : nullptr;
}

}  // namespace

PyObject* analyze_model(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"analyze_model", {"model_path"}, 1};
  std::vector<PyObject*> bound;
  if (!bind_arguments(sig, args, nargs, kwnames, bound)) return nullptr;
  std::string model_path;
  if (!convert_str(bound[0], "model_path", model_path)) return nullptr;
  return guarded([&]() -> PyObject* {
    auto ir = inspect_model(model_path);
    if (!ir) return raise_error(ir.error());
    return model_dict(*ir);
  });
}

}  // namespace bc::py
