#include "runtime/onnx_adapter.hpp"

#include <gtest/gtest.h>

#include "runtime/adapter_registry.hpp"
#include "runtime/fake_tools.hpp"
#include "runtime/fixtures.hpp"
#include "runtime/runner_location.hpp"

namespace bc {
namespace {

using namespace bc::testing;
using Kind = AdapterError::Kind;

const std::string kHint = "install Python 3 and onnxruntime (pip install onnxruntime)";

std::string not_installed(const std::string& binary) {
  return "required binary '" + binary + "' was not found in PATH \u2014 " + kHint;
}

std::string json_escaped(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

// The repository that holds this test, for the real runner script.
std::filesystem::path source_tree() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path();
}

class OnnxBenchmark : public ::testing::Test {
 protected:
  OnnxBenchmark() { write_file(dev / "python/brindlecove/onnx_runner.py", "# fake runner\n"); }

  // A python3 whose check passes and whose runner replies `reply`.
  void add_python(const FakeRun& reply, const FakeRun& check = {}) {
    FakeRun measure = reply;
    measure.save_stdin = true;
    tools.add("python3", measure, {{"--check", check}});
  }
  Expected<BenchmarkResult> benchmark() {
    AdapterRegistry registry;
    return registry.benchmark(config, model, "ignored prompt");
  }
  std::string script() const { return (dev / "python/brindlecove/onnx_runner.py").string(); }

  FakeTools tools;
  TempDir dev;
  ScopedEnv dev_env{kDevDirVariable, dev.path().string()};
  ModelProfile model = model_at(tools.file("we\"ird\\name.onnx", "onnx"), ModelFormat::Onnx);
  RuntimeConfig config = config_for(RuntimeKind::OnnxRuntime, QuantizationStrategy::F16, 3, 2, 0);
};

TEST_F(OnnxBenchmark, RequestOnStdinReplyOnStdout) {
  add_python(
      {"\n\n{\"tokens_per_sec\": 42.5, \"latency_ms\": 23.5, \"peak_memory_mb\": 310, "
       "\"runs\": 5}\n\n",
       "onnxruntime warning\n", 0});
  auto result = benchmark();
  ASSERT_TRUE(result) << result.error().full_message();
  EXPECT_EQ(*result, (BenchmarkResult{42.5, 23.5, 310}));

  // The check, then the warm-up and the measured run with the script as the
  // only argument.
  const std::string python = tools.tool_path("python3").string();
  EXPECT_EQ(tools.calls("python3"),
            (std::vector<std::vector<std::string>>{
                {python, script(), "--check"}, {python, script()}, {python, script()}}));
  EXPECT_EQ(tools.saved_stdin("python3"),
            "{\"batch_size\":2,\"execution_provider\":\"CPUExecutionProvider\",\"model_path\":\"" +
                json_escaped(model.model_path) + "\",\"prompt_tokens\":50,\"threads\":3}");
}

TEST_F(OnnxBenchmark, GpuLayersAskForCuda) {
  config.gpu_layers = 1;
  add_python({R"({"tokens_per_sec":1,"latency_ms":1,"peak_memory_mb":1})", "", 0});
  ASSERT_TRUE(benchmark());
  EXPECT_NE(tools.saved_stdin("python3").find("\"CUDAExecutionProvider\""), std::string::npos);
}

TEST_F(OnnxBenchmark, FailedMeasurements) {
  struct Case {
    FakeRun run;
    std::string reason;
  } cases[] = {
      {{R"({"error": "model file not found: /x.onnx"})", "", 0}, "model file not found: /x.onnx"},
      {{R"({"error": "bad"})", "Traceback: boom\n", 1},
       "onnx_runner.py exited non-zero: Traceback: boom"},
      {{"", "killed\n", 0, true}, "onnx_runner.py exited non-zero: killed"},
      {{"{\"error\": \"x\"}\nmore", "", 0},
       "unparseable onnx_runner output: {\"error\": \"x\"}\nmore"},
      {{"", "", 0}, "unparseable onnx_runner output: "},
  };
  for (const auto& c : cases) {
    FakeTools fresh;
    FakeRun measure = c.run;
    measure.save_stdin = true;
    fresh.add("python3", measure, {{"--check", FakeRun{}}});
    AdapterRegistry registry;
    auto result = registry.benchmark(config, model, "p");
    ASSERT_FALSE(result) << c.reason;
    expect_adapter_error(result.error(), Kind::InferenceFailed, "inference failed: " + c.reason);
    EXPECT_EQ(fresh.calls("python3").size(), 2u) << "check and warm-up only";
  }
}

TEST_F(OnnxBenchmark, CheckFailures) {
  add_python({}, FakeRun{"", "No module named 'onnxruntime'\n", 1});
  auto result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled,
                       not_installed("onnxruntime (python package)"));
  EXPECT_EQ(tools.calls("python3").size(), 1u);

  FakeTools killed;
  killed.add("python3", {}, {{"--check", FakeRun{"", "", 0, true}}});
  result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled,
                       not_installed("onnxruntime (python package)"));

  FakeTools broken;
  write_file(broken.tool_path("python3"), "#!/nonexistent/interpreter\n", true);
  result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::InitializationFailed,
                       "model initialization failed: No such file or directory (os error 2)");
}

TEST_F(OnnxBenchmark, MissingPythonOrRunner) {
  auto result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled, not_installed("python3"));

  add_python({});
  ScopedEnv no_dev(kDevDirVariable, std::nullopt);
  result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled, not_installed("onnx_runner.py"));
  EXPECT_TRUE(tools.calls("python3").empty());
}

TEST_F(OnnxBenchmark, ModelChecks) {
  const std::string missing = (tools.root() / "none.onnx").string();
  OnnxAdapter adapter;
  auto gguf = adapter.load_model(model_at(missing, ModelFormat::Gguf));
  ASSERT_FALSE(gguf);
  expect_adapter_error(
      gguf.error(), Kind::UnsupportedConfiguration,
      "unsupported configuration: OnnxAdapter only supports ONNX models, got GGUF");
  auto absent = adapter.load_model(model_at(missing, ModelFormat::Onnx));
  ASSERT_FALSE(absent);
  expect_adapter_error(absent.error(), Kind::ModelLoadFailed,
                       "model load failed for '" + missing + "': file not found");
  EXPECT_FALSE(adapter.state().loaded_model);
}

// The real runner under an interpreter without onnxruntime: the check fails
// cleanly, and a measurement is an error reply, not a traceback.
TEST_F(OnnxBenchmark, RealRunnerWithoutOnnxRuntime) {
  const auto tree = source_tree();
  ASSERT_TRUE(std::filesystem::exists(tree / "python/brindlecove/onnx_runner.py"));
  ScopedEnv real_dev(kDevDirVariable, (tree / "python/brindlecove").string());
  std::filesystem::create_symlink("/usr/bin/python3", tools.tool_path("python3"));
  auto result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled,
                       not_installed("onnxruntime (python package)"));

  // Past the check, the measurement itself reports the missing package.
  std::filesystem::remove(tools.tool_path("python3"));
  tools.add("python3", FakeRun::shell_commands("exec /usr/bin/python3 \"$@\""),
            {{"--check", FakeRun{}}});
  result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(
      result.error(), Kind::InferenceFailed,
      "inference failed: onnxruntime is not installed: No module named 'onnxruntime'");
}

}  // namespace
}  // namespace bc
