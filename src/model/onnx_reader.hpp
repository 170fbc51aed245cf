#pragma once
// Reads how many parameters an ONNX model's stored weights hold and how many
// operator nodes its main graph has, validating the whole model against the
// published onnx.proto schema on the way.

#include <cstdint>
#include <span>
#include <string>

#include "core/error.hpp"

namespace bc {

struct OnnxGraphSummary {
  // False when the model has no main graph; the counts are then 0.
  bool has_graph = false;
  // Sum over the main graph's initializers of the product of their dims,
  // saturating at 2^64 - 1.
  uint64_t parameter_total = 0;
  // Nodes of the main graph; nodes inside subgraphs are not counted.
  uint64_t graph_node_count = 0;
  bool operator==(const OnnxGraphSummary&) const = default;
};

// The file is mapped read-only, never copied, and the pages already decoded
// are handed back as the decoder moves on, so memory use does not grow with
// the size of the weights stored in it.
[[nodiscard]] Expected<OnnxGraphSummary> read_onnx(const std::string& path);
[[nodiscard]] Expected<OnnxGraphSummary> read_onnx_bytes(std::span<const uint8_t> bytes);

}  // namespace bc
