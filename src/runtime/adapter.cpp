#include "runtime/adapter.hpp"

#include "runtime/tool_helpers.hpp"

namespace bc {

Status RuntimeAdapter::check_ready() const {
  if (!state_.initialized())
    return fail(AdapterError::initialization_failed("adapter not initialized"));
  if (!state_.loaded_model) return fail(AdapterError::initialization_failed("model not loaded"));
  return {};
}

Status require_format(const ModelProfile& model, ModelFormat expected, std::string_view runtime) {
  if (model.format == expected) return {};
  return fail(AdapterError::unsupported(std::string(runtime) + " only supports " +
                                        std::string(upper_name(expected)) + " models, got " +
                                        std::string(upper_name(model.format))));
}

Status check_model_file(const std::string& model_path) {
  if (!path_exists(model_path))
    return fail(AdapterError::model_load_failed(model_path, "file not found"));
  return {};
}

}  // namespace bc
