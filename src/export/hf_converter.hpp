#pragma once
// llama.cpp's convert_hf_to_gguf.py, run for an ONNX model before export.

#include <filesystem>
#include <string>

#include "core/error.hpp"

namespace bc {

// Runs "python3 <converter> <model_path> --outfile <destination>" with the
// host's standard streams, after finding the converter on PATH.
[[nodiscard]] Status convert_with_hf_converter(const std::string& model_path,
                                               const std::filesystem::path& destination);

}  // namespace bc
