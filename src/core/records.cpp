#include "core/records.hpp"

namespace bc {

std::string_view name(SimdLevel v) {
  switch (v) {
    case SimdLevel::None:
      return "None";
    case SimdLevel::AVX:
      return "AVX";
    case SimdLevel::AVX2:
      return "AVX2";
    case SimdLevel::AVX512:
      return "AVX512";
  }
  return "None";
}

std::string_view name(GpuVendor v) {
  switch (v) {
    case GpuVendor::Nvidia:
      return "Nvidia";
    case GpuVendor::Amd:
      return "Amd";
    case GpuVendor::Apple:
      return "Apple";
    case GpuVendor::Unknown:
      return "Unknown";
  }
  return "Unknown";
}

std::string_view name(RuntimeKind v) {
  switch (v) {
    case RuntimeKind::LlamaCpp:
      return "LlamaCpp";
    case RuntimeKind::OnnxRuntime:
      return "OnnxRuntime";
    case RuntimeKind::TensorRT:
      return "TensorRT";
    case RuntimeKind::Ollama:
      return "Ollama";
    case RuntimeKind::Vllm:
      return "Vllm";
  }
  return "LlamaCpp";
}

std::string_view name(QuantizationStrategy v) {
  switch (v) {
    case QuantizationStrategy::F16:
      return "F16";
    case QuantizationStrategy::Q8_0:
      return "Q8_0";
    case QuantizationStrategy::Q4_K_M:
      return "Q4_K_M";
    case QuantizationStrategy::Q4_0:
      return "Q4_0";
    case QuantizationStrategy::Int8:
      return "Int8";
    case QuantizationStrategy::Int4:
      return "Int4";
  }
  return "F16";
}

std::string_view name(ModelFormat v) { return v == ModelFormat::Gguf ? "gguf" : "onnx"; }

std::string_view upper_name(ModelFormat v) { return v == ModelFormat::Gguf ? "GGUF" : "ONNX"; }

std::string_view llama_quantize_type(QuantizationStrategy q) {
  switch (q) {
    case QuantizationStrategy::F16:
      return "f16";
    case QuantizationStrategy::Q8_0:
      return "q8_0";
    case QuantizationStrategy::Q4_K_M:
      return "q4_k_m";
    case QuantizationStrategy::Q4_0:
      return "q4_0";
    case QuantizationStrategy::Int8:
      return "q8_0";
    case QuantizationStrategy::Int4:
      return "q4_0";
  }
  return "f16";
}

std::optional<RuntimeKind> runtime_kind_from_name(std::string_view s) {
  for (RuntimeKind k : kAllRuntimeKinds)
    if (name(k) == s) return k;
  return std::nullopt;
}

std::optional<QuantizationStrategy> quantization_from_name(std::string_view s) {
  for (QuantizationStrategy q : kAllQuantizations)
    if (name(q) == s) return q;
  return std::nullopt;
}

}  // namespace bc
