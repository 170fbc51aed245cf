#include "runtime/adapter_registry.hpp"

#include <gtest/gtest.h>

#include "runtime/fake_tools.hpp"
#include "runtime/fixtures.hpp"
#include "runtime/llamacpp_adapter.hpp"
#include "runtime/ollama_adapter.hpp"
#include "runtime/onnx_adapter.hpp"
#include "runtime/runner_location.hpp"
#include "runtime/tensorrt_adapter.hpp"
#include "runtime/vllm_adapter.hpp"

namespace bc {
namespace {

using namespace bc::testing;
using Kind = AdapterError::Kind;

// Records the order of operations and fails at a chosen step.
class ScriptedAdapter final : public RuntimeAdapter {
 public:
  ScriptedAdapter(std::vector<std::string>& log, std::string fail_at, int fail_on_run = 0)
      : log_(log), fail_at_(std::move(fail_at)), fail_on_run_(fail_on_run) {}

  Status initialize(const RuntimeConfig& config) override {
    log_.push_back("initialize");
    if (fail_at_ == "initialize") return fail(AdapterError::initialization_failed("init"));
    state_.tool_path = "tool";
    state_.run_config = config;
    return {};
  }
  Status load_model(const ModelProfile& model) override {
    log_.push_back("load_model " + model.model_path);
    if (fail_at_ == "load_model") return fail(AdapterError::model_load_failed("p", "load"));
    state_.loaded_model = model;
    return {};
  }
  Expected<BenchmarkResult> run_inference(const std::string& prompt) const override {
    ++runs_;
    log_.push_back("run " + prompt);
    if (runs_ == fail_on_run_) return fail(AdapterError::inference_failed("run"));
    return BenchmarkResult{static_cast<double>(runs_), 1.0, 7};
  }
  Status unload() override {
    log_.push_back("unload");
    if (fail_at_ == "unload") return fail("unload failed");
    return {};
  }

 private:
  std::vector<std::string>& log_;
  std::string fail_at_;
  int fail_on_run_;
  mutable int runs_ = 0;
};

TEST(AdapterRegistry, HoldsOneFreshAdapterPerKind) {
  AdapterRegistry registry;
  EXPECT_NE(dynamic_cast<LlamaCppAdapter*>(registry.adapter(RuntimeKind::LlamaCpp)), nullptr);
  EXPECT_NE(dynamic_cast<OnnxAdapter*>(registry.adapter(RuntimeKind::OnnxRuntime)), nullptr);
  EXPECT_NE(dynamic_cast<TensorRtAdapter*>(registry.adapter(RuntimeKind::TensorRT)), nullptr);
  EXPECT_NE(dynamic_cast<OllamaAdapter*>(registry.adapter(RuntimeKind::Ollama)), nullptr);
  EXPECT_NE(dynamic_cast<VllmAdapter*>(registry.adapter(RuntimeKind::Vllm)), nullptr);
  for (RuntimeKind kind : kAllRuntimeKinds) {
    const AdapterState& s = registry.adapter(kind)->state();
    EXPECT_FALSE(s.tool_path || s.run_config || s.loaded_model) << name(kind);
  }
}

TEST(AdapterRegistry, WarmUpThenMeasuredRun) {
  std::vector<std::string> log;
  AdapterRegistry registry;
  registry.set_adapter(RuntimeKind::Ollama, std::make_unique<ScriptedAdapter>(log, ""));
  auto result = registry.benchmark(config_for(RuntimeKind::Ollama),
                                   model_at("m", ModelFormat::Gguf), "the prompt");
  ASSERT_TRUE(result);
  EXPECT_EQ(result->tokens_per_sec, 2.0);  // the second run's result
  EXPECT_EQ(log, (std::vector<std::string>{"initialize", "load_model m", "run the prompt",
                                           "run the prompt", "unload"}));
}

TEST(AdapterRegistry, FirstFailureEndsTheSequence) {
  struct Case {
    std::string fail_at;
    int fail_on_run;
    size_t steps;
    std::string message;
  } cases[] = {
      {"initialize", 0, 1, "model initialization failed: init"},
      {"load_model", 0, 2, "model load failed for 'p': load"},
      {"", 1, 3, "inference failed: run"},
      {"", 2, 4, "inference failed: run"},
      {"unload", 0, 5, "unload failed"},
  };
  for (const auto& c : cases) {
    std::vector<std::string> log;
    AdapterRegistry registry;
    registry.set_adapter(RuntimeKind::Vllm,
                         std::make_unique<ScriptedAdapter>(log, c.fail_at, c.fail_on_run));
    auto result =
        registry.benchmark(config_for(RuntimeKind::Vllm), model_at("m", ModelFormat::Gguf), "p");
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error().message(), c.message);
    EXPECT_EQ(log.size(), c.steps) << c.message;
  }
}

TEST(AdapterRegistry, KindWithoutAdapter) {
  AdapterRegistry registry;
  registry.set_adapter(RuntimeKind::TensorRT, nullptr);
  auto result =
      registry.benchmark(config_for(RuntimeKind::TensorRT), model_at("m", ModelFormat::Onnx), "p");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().message(), "no adapter registered for TensorRT");
  EXPECT_EQ(result.error().find_adapter_error(), nullptr);
}

TEST(AdapterContract, RunPreconditionsOnEveryAdapter) {
  FakeTools tools;
  for (const char* tool : {"llama-cli", "python3", "trtexec", "ollama"}) tools.add(tool, {});
  TempDir dev;
  write_file(dev / "python/brindlecove/onnx_runner.py", "");
  ScopedEnv dev_env(kDevDirVariable, dev.path().string());
  for (RuntimeKind kind : kAllRuntimeKinds) {
    AdapterRegistry registry;
    RuntimeAdapter& adapter = *registry.adapter(kind);
    auto fresh = adapter.run_inference("p");
    ASSERT_FALSE(fresh) << name(kind);
    expect_adapter_error(fresh.error(), Kind::InitializationFailed,
                         "model initialization failed: adapter not initialized");
    ASSERT_TRUE(adapter.initialize(config_for(kind))) << name(kind);
    auto unloaded = adapter.run_inference("p");
    ASSERT_FALSE(unloaded) << name(kind);
    expect_adapter_error(unloaded.error(), Kind::InitializationFailed,
                         "model initialization failed: model not loaded");
    EXPECT_TRUE(adapter.unload());
  }
}

TEST(AdapterContract, UnsetPathMeansNotInstalledAndNoChild) {
  FakeTools tools;
  for (const char* tool : {"llama-cli", "python3", "trtexec", "ollama"}) tools.add(tool, {});
  ScopedEnv no_path("PATH", std::nullopt);
  const char* expected[] = {"llama-cli", "python3", "trtexec", "ollama", "python3"};
  size_t i = 0;
  for (RuntimeKind kind : kAllRuntimeKinds) {
    AdapterRegistry registry;
    auto result = registry.benchmark(config_for(kind), model_at("m", ModelFormat::Onnx), "p");
    ASSERT_FALSE(result);
    const AdapterError* a = result.error().find_adapter_error();
    ASSERT_NE(a, nullptr);
    EXPECT_EQ(a->kind, Kind::NotInstalled);
    EXPECT_EQ(a->a, expected[i++]) << name(kind);
    EXPECT_FALSE(registry.adapter(kind)->state().tool_path);
  }
  for (const char* tool : {"llama-cli", "python3", "trtexec", "ollama"})
    EXPECT_TRUE(tools.calls(tool).empty()) << tool;
}

}  // namespace
}  // namespace bc
