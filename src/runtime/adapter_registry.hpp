#pragma once
// One adapter per runtime kind, and the benchmark sequence driven through it.

#include <map>
#include <memory>
#include <string>

#include "runtime/adapter.hpp"

namespace bc {

class AdapterRegistry {
 public:
  // Five fresh adapters, one per RuntimeKind.
  AdapterRegistry();

  // nullptr when no adapter is registered for the kind.
  RuntimeAdapter* adapter(RuntimeKind kind) const;
  // Replaces the adapter of a kind; nullptr removes it.
  void set_adapter(RuntimeKind kind, std::unique_ptr<RuntimeAdapter> adapter);

  // initialize, load_model, a warm-up run whose result is discarded, the
  // measured run, unload. The first failure ends the sequence; nothing is
  // retried.
  [[nodiscard]] Expected<BenchmarkResult> benchmark(const RuntimeConfig& config,
                                                    const ModelProfile& model,
                                                    const std::string& prompt);

 private:
  std::map<RuntimeKind, std::unique_ptr<RuntimeAdapter>> adapters_;
};

}  // namespace bc
