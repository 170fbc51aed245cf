#pragma once
// The one entry that turns a model file path into a ModelIr: the reader is
// chosen by the file's extension, never by its content.

#include <string>
#include <string_view>

#include "core/error.hpp"
#include "core/records.hpp"
#include "model/model_ir.hpp"

namespace bc {

// Chooses the reader by the path's extension (ASCII case ignored) and derives
// the sizes. Reader errors are passed on unchanged.
[[nodiscard]] Expected<ModelIr> inspect_model(const std::string& path);

// The text after the last '.' of the path's final component, lower-cased
// (ASCII only); empty when there is none, when the only '.' starts the name,
// or when it is not valid UTF-8.
std::string model_file_extension(std::string_view path);

// "gguf" / "onnx" in any ASCII case, else "unknown model format '{name}';
// expected 'onnx' or 'gguf'".
[[nodiscard]] Expected<ModelFormat> parse_model_format(std::string_view name);

}  // namespace bc
