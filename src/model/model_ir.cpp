#include "model/model_ir.hpp"

namespace bc {
namespace {

constexpr double kBytesPerMb = 0x1p-20;  // MB here is 1,048,576 bytes

uint64_t saturating_mul(uint64_t a, uint64_t b) {
  uint64_t out = 0;
  return __builtin_mul_overflow(a, b, &out) ? UINT64_MAX : out;
}

std::optional<uint32_t> low32(const std::optional<uint64_t>& v) {
  if (!v) return std::nullopt;
  return static_cast<uint32_t>(*v);
}

// Both formats size the weights at 16 bits and count two operations per
// parameter per token.
void derive_from_param_count(ModelIr& ir) {
  if (!ir.param_count) return;
  double p = static_cast<double>(*ir.param_count);
  ir.memory_footprint_mb = (p * 2.0) * kBytesPerMb;
  ir.flops_per_token = p * 2.0;
}

// Keys and values for every layer, K heads of width E / H per position, C
// positions, 2 bytes per element. The order of operations is fixed so the
// figure is reproducible to the last bit.
std::optional<double> kv_cache_mb(const GgufMetadata& m) {
  if (!m.block_count || !m.embedding_length || !m.head_count || !m.context_length) {
    return std::nullopt;
  }
  if (*m.head_count == 0) return std::nullopt;
  double l = static_cast<double>(*m.block_count);
  double k = static_cast<double>(m.head_count_kv.value_or(*m.head_count));
  double e = static_cast<double>(*m.embedding_length);
  double h = static_cast<double>(*m.head_count);
  double c = static_cast<double>(*m.context_length);
  return (((((l + l) * k) * (e / h)) * c) * 2.0) * kBytesPerMb;
}

}  // namespace

ModelIr model_ir_from_gguf(const GgufMetadata& m) {
  ModelIr ir;
  ir.format = ModelFormat::Gguf;
  if (m.parameter_count) {
    ir.param_count = m.parameter_count;
  } else if (m.block_count && m.embedding_length) {
    // A rough transformer estimate; the width enters once, not squared.
    ir.param_count = saturating_mul(saturating_mul(12, *m.block_count), *m.embedding_length);
  }
  ir.architecture = m.architecture;
  ir.context_length = low32(m.context_length);
  ir.layer_count = low32(m.block_count);
  ir.hidden_size = low32(m.embedding_length);
  ir.attention_head_count = low32(m.head_count);
  ir.attention_head_count_kv = low32(m.head_count_kv);
  ir.feed_forward_length = m.feed_forward_length;
  ir.kv_cache_size_mb = kv_cache_mb(m);
  derive_from_param_count(ir);
  return ir;
}

ModelIr model_ir_from_onnx(const OnnxGraphSummary& s) {
  ModelIr ir;
  ir.format = ModelFormat::Onnx;
  if (s.has_graph && s.parameter_total != 0) ir.param_count = s.parameter_total;
  if (s.has_graph && s.graph_node_count != 0) {
    ir.layer_count = static_cast<uint32_t>(s.graph_node_count);
  }
  derive_from_param_count(ir);
  return ir;
}

}  // namespace bc
