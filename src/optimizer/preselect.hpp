#pragma once
// Which runtimes the Bayesian search may draw from: at most two, best first.

#include <vector>

#include "core/line_sink.hpp"
#include "core/records.hpp"
#include "optimizer/workload.hpp"

namespace bc {

// Writes one "[Stage 3/7] Eliminated ..." line per excluded runtime. Never
// empty: GGUF always yields two runtimes and OnnxRuntime is never excluded.
std::vector<RuntimeKind> preselect_runtimes(ModelFormat format, const HardwareSummary& summary,
                                            const ModelAnalysis& analysis,
                                            LineSink& sink = stderr_sink());

}  // namespace bc
