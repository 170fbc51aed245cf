#include "optimizer/preselect.hpp"

#include <algorithm>
#include <cstdint>
#include <string>
#include <string_view>

namespace bc {
namespace {

struct Candidate {
  RuntimeKind runtime;
  uint32_t score;
  std::string_view reason;  // empty: the candidate stays
};

std::vector<Candidate> candidates_for(ModelFormat format, const HardwareSummary& summary,
                                      const ModelAnalysis& analysis) {
  if (format == ModelFormat::Gguf) {
    return {{RuntimeKind::LlamaCpp, 10, {}}, {RuntimeKind::Ollama, 8, {}}};
  }
  std::string_view tensorrt_reason;
  if (!summary.is_nvidia) tensorrt_reason = "TensorRT requires NVIDIA GPU";
  std::string_view vllm_reason;
  if (!summary.has_gpu) {
    vllm_reason = "vLLM requires a GPU";
  } else if (analysis.kv_pressure && summary.vram_mb.value_or(0) == 0) {
    vllm_reason = "vLLM cannot handle KV pressure without VRAM";
  }
  return {{RuntimeKind::OnnxRuntime, 8, {}},
          {RuntimeKind::TensorRT, 10, tensorrt_reason},
          {RuntimeKind::Vllm, 7, vllm_reason}};
}

}  // namespace

std::vector<RuntimeKind> preselect_runtimes(ModelFormat format, const HardwareSummary& summary,
                                            const ModelAnalysis& analysis, LineSink& sink) {
  std::vector<Candidate> kept;
  for (const Candidate& c : candidates_for(format, summary, analysis)) {
    if (c.reason.empty()) {
      kept.push_back(c);
      continue;
    }
    std::string line = "[Stage 3/7] Eliminated ";
    line += name(c.runtime);
    line += ": ";
    line += c.reason;
    sink.write_line(line);
  }
  std::stable_sort(kept.begin(), kept.end(),
                   [](const Candidate& a, const Candidate& b) { return a.score > b.score; });
  std::vector<RuntimeKind> result;
  for (const Candidate& c : kept) {
    if (result.size() == 2) break;
    result.push_back(c.runtime);
  }
  return result;
}

}  // namespace bc
