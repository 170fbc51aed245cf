#pragma once
// Re-quantizing a model file with llama.cpp's llama-quantize.

#include <string>

#include "core/error.hpp"
#include "core/records.hpp"

namespace bc {

// Runs `llama-quantize --allow-requantize SOURCE DESTINATION TYPE` with the
// caller's standard streams, so its progress shows where the user looks.
// The destination is whatever the tool wrote; it is not checked.
[[nodiscard]] Status requantize_model(const std::string& source, const std::string& destination,
                                      QuantizationStrategy quantization);

}  // namespace bc
