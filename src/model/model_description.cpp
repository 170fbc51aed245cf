#include "model/model_description.hpp"

#include "core/text.hpp"
#include "model/gguf_reader.hpp"
#include "model/onnx_reader.hpp"

namespace bc {

std::string model_file_extension(std::string_view path) {
  // The final component, as path libraries see it: trailing separators and
  // "." components do not count, and ".." has no extension.
  std::string_view last;
  for (std::string_view piece : split_char(path, '/')) {
    if (!piece.empty() && piece != ".") last = piece;
  }
  if (last.empty() || last == "..") return {};
  size_t dot = last.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return {};
  std::string_view ext = last.substr(dot + 1);
  if (!is_valid_utf8(ext)) return {};
  return to_lower_ascii(ext);
}

Expected<ModelIr> inspect_model(const std::string& path) {
  std::string ext = model_file_extension(path);
  if (ext == "gguf") {
    auto m = read_gguf(path);
    if (!m) return std::unexpected(m.error());
    return model_ir_from_gguf(*m);
  }
  if (ext == "onnx") {
    auto s = read_onnx(path);
    if (!s) return std::unexpected(s.error());
    return model_ir_from_onnx(*s);
  }
  return fail("unrecognised model file extension '." + ext + "'; expected '.gguf' or '.onnx'");
}

Expected<ModelFormat> parse_model_format(std::string_view name) {
  std::string lower = to_lower_ascii(name);
  if (lower == "gguf") return ModelFormat::Gguf;
  if (lower == "onnx") return ModelFormat::Onnx;
  return fail("unknown model format '" + lower + "'; expected 'onnx' or 'gguf'");
}

}  // namespace bc
