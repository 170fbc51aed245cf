#include "runtime/adapter_registry.hpp"

#include "runtime/llamacpp_adapter.hpp"
#include "runtime/ollama_adapter.hpp"
#include "runtime/onnx_adapter.hpp"
#include "runtime/tensorrt_adapter.hpp"
#include "runtime/vllm_adapter.hpp"

namespace bc {

AdapterRegistry::AdapterRegistry() {
  adapters_[RuntimeKind::LlamaCpp] = std::make_unique<LlamaCppAdapter>();
  adapters_[RuntimeKind::OnnxRuntime] = std::make_unique<OnnxAdapter>();
  adapters_[RuntimeKind::TensorRT] = std::make_unique<TensorRtAdapter>();
  adapters_[RuntimeKind::Ollama] = std::make_unique<OllamaAdapter>();
  adapters_[RuntimeKind::Vllm] = std::make_unique<VllmAdapter>();
}

RuntimeAdapter* AdapterRegistry::adapter(RuntimeKind kind) const {
  auto it = adapters_.find(kind);
  return it == adapters_.end() ? nullptr : it->second.get();
}

void AdapterRegistry::set_adapter(RuntimeKind kind, std::unique_ptr<RuntimeAdapter> adapter) {
  if (adapter) {
    adapters_[kind] = std::move(adapter);
  } else {
    adapters_.erase(kind);
  }
}

Expected<BenchmarkResult> AdapterRegistry::benchmark(const RuntimeConfig& config,
                                                     const ModelProfile& model,
                                                     const std::string& prompt) {
  RuntimeAdapter* runner = adapter(config.runtime);
  if (runner == nullptr)
    return fail("no adapter registered for " + std::string(name(config.runtime)));
  if (auto s = runner->initialize(config); !s) return std::unexpected(s.error());
  if (auto s = runner->load_model(model); !s) return std::unexpected(s.error());
  // The first run pays for cold caches and lazy loading; only the second one
  // is reported.
  if (auto warm_up = runner->run_inference(prompt); !warm_up)
    return std::unexpected(warm_up.error());
  auto measured = runner->run_inference(prompt);
  if (!measured) return measured;
  if (auto s = runner->unload(); !s) return std::unexpected(s.error());
  return measured;
}

}  // namespace bc
