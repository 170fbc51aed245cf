#pragma once
// The format-independent description of a model file that the rest of the
// system plans with, and how it is derived from what each reader returns.

#include <cstdint>
#include <optional>
#include <string>

#include "core/records.hpp"
#include "model/gguf_reader.hpp"
#include "model/onnx_reader.hpp"

namespace bc {

// Field order is the key order of the dictionary Python receives.
struct ModelIr {
  ModelFormat format = ModelFormat::Gguf;
  std::optional<uint64_t> param_count;
  std::optional<std::string> architecture;
  std::optional<uint32_t> context_length;
  std::optional<uint32_t> layer_count;
  std::optional<uint32_t> hidden_size;
  std::optional<uint32_t> attention_head_count;
  std::optional<uint32_t> attention_head_count_kv;
  std::optional<uint64_t> feed_forward_length;
  std::optional<double> kv_cache_size_mb;
  std::optional<double> memory_footprint_mb;
  std::optional<double> flops_per_token;
  bool operator==(const ModelIr&) const = default;
};

// The derivations, as pure functions of what the readers return.
ModelIr model_ir_from_gguf(const GgufMetadata& m);
ModelIr model_ir_from_onnx(const OnnxGraphSummary& s);

}  // namespace bc
