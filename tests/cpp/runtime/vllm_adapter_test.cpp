#include "runtime/vllm_adapter.hpp"

#include <gtest/gtest.h>

#include "runtime/adapter_registry.hpp"
#include "runtime/fake_tools.hpp"
#include "runtime/fixtures.hpp"

namespace bc {
namespace {

using namespace bc::testing;
using Kind = AdapterError::Kind;

// A string as Python's json.dumps writes it (ASCII input).
std::string python_json(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out;
}

class VllmBenchmark : public ::testing::Test {
 protected:
  Expected<BenchmarkResult> benchmark() {
    AdapterRegistry registry;
    return registry.benchmark(config, model, prompt);
  }

  FakeTools tools;
  ModelProfile model =
      model_at(tools.file("llama.safetensors", ""), ModelFormat::Gguf, 2'000'000'000);
  RuntimeConfig config = config_for(RuntimeKind::Vllm, QuantizationStrategy::Int8);
  std::string prompt = "Tell me a \"story\" \\ please";
};

TEST_F(VllmBenchmark, ImportCheckThenScriptRuns) {
  tools.add("python3", {R"({"tokens": 50, "elapsed_s": 1.25, "tps": 40.0})", "INFO vllm log\n", 0});
  auto result = benchmark();
  ASSERT_TRUE(result) << result.error().full_message();
  EXPECT_EQ(*result, (BenchmarkResult{40.0, 1250.0, 2000}));
  const std::string python = tools.tool_path("python3").string();
  const std::vector<std::string> run = {python, "-c",
                                        vllm_script(model.model_path, "float8_e4m3fn", prompt)};
  EXPECT_EQ(tools.calls("python3"),
            (std::vector<std::vector<std::string>>{{python, "-c", "import vllm"}, run, run}));
}

TEST_F(VllmBenchmark, FailedImportIsNotInstalledWithPythonsWords) {
  tools.add("python3", {},
            {{"import vllm",
              FakeRun{"", "Traceback ...\nModuleNotFoundError: No module named 'vllm'\n", 1}}});
  auto result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled,
                       "required binary 'vllm' was not found in PATH \u2014 install vLLM via `pip "
                       "install vllm`; python3 said: Traceback ...\nModuleNotFoundError: No module "
                       "named 'vllm'");
  EXPECT_EQ(tools.calls("python3").size(), 1u);

  write_file(tools.tool_path("python3"), "#!/nonexistent/interpreter\n", true);
  result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::InitializationFailed,
                       "model initialization failed: could not invoke python3 for vLLM check: No "
                       "such file or directory (os error 2)");
}

TEST_F(VllmBenchmark, FailedRuns) {
  const std::string logged = "INFO 08-01 loading\n{\"tokens\": 5, \"elapsed_s\": 1, \"tps\": 5}";
  struct Case {
    FakeRun run;
    std::string reason;
  } cases[] = {
      {{"", "{\"error\": \"CUDA out of memory\"}\n", 1},
       "vLLM inference failed: {\"error\": \"CUDA out of memory\"}"},
      {{"", "", 0, true}, "vLLM inference failed: "},
      {{"\n" + logged + "\n", "", 0}, "could not parse vLLM JSON output: " + logged},
      {{R"({"tokens": 0, "elapsed_s": 0.5, "tps": 0.0})", "", 0},
       R"(could not parse vLLM JSON output: {"tokens": 0, "elapsed_s": 0.5, "tps": 0.0})"},
  };
  for (const auto& c : cases) {
    tools.add("python3", c.run, {{"import vllm", FakeRun{}}});
    auto result = benchmark();
    ASSERT_FALSE(result) << c.reason;
    expect_adapter_error(result.error(), Kind::InferenceFailed, "inference failed: " + c.reason);
  }
}

TEST_F(VllmBenchmark, MissingPythonAndModel) {
  auto result = benchmark();
  ASSERT_FALSE(result);
  expect_adapter_error(result.error(), Kind::NotInstalled,
                       "required binary 'python3' was not found in PATH \u2014 install Python 3 "
                       "from https://www.python.org/downloads/ or via your system package manager");
  VllmAdapter adapter;
  const std::string missing = (tools.root() / "none").string();
  auto absent = adapter.load_model(model_at(missing, ModelFormat::Onnx));
  ASSERT_FALSE(absent);
  expect_adapter_error(absent.error(), Kind::ModelLoadFailed,
                       "model load failed for '" + missing + "': file not found");
}

// The generated script under a real interpreter with a stand-in vllm
// package: a model path built to end the string literal early stays a path.
TEST_F(VllmBenchmark, ScriptRunsAndModelPathCannotInjectCode) {
  TempDir pkg;
  write_file(pkg / "vllm/__init__.py",
             "import json, os\n"
             "class SamplingParams:\n"
             "    def __init__(self, max_tokens):\n"
             "        self.max_tokens = max_tokens\n"
             "class _Out:\n"
             "    def __init__(self, n):\n"
             "        self.token_ids = list(range(n))\n"
             "class _Req:\n"
             "    def __init__(self, n):\n"
             "        self.outputs = [_Out(n)]\n"
             "class LLM:\n"
             "    def __init__(self, model, dtype, max_model_len=0):\n"
             "        with open(os.environ['FAKE_VLLM_LOG'], 'w') as f:\n"
             "            json.dump({'model': model, 'dtype': dtype, 'len': max_model_len}, f)\n"
             "    def generate(self, prompts, params):\n"
             "        with open(os.environ['FAKE_VLLM_LOG'], 'a') as f:\n"
             "            f.write('\\n' + json.dumps(prompts))\n"
             "        return [_Req(params.max_tokens) for _ in prompts]\n");
  ScopedEnv pythonpath("PYTHONPATH", pkg.path().string());
  ScopedEnv log("FAKE_VLLM_LOG", (pkg / "log.json").string());
  tools.add("python3", FakeRun::shell_commands("exec /usr/bin/python3 \"$@\""));

  const std::string marker = (pkg / "pwned").string();
  // Unescaped, this path would close the literal, create `marker` and reopen
  // a literal that the script's own text closes again.
  model = model_at(
      tools.file("back\\slash/x\", dtype=\"x\"); open(\"" + marker + "\", \"w\"); dict(a=\"", ""),
      ModelFormat::Gguf);
  auto result = benchmark();
  ASSERT_TRUE(result) << result.error().full_message();
  EXPECT_GT(result->tokens_per_sec, 0.0);
  EXPECT_FALSE(std::filesystem::exists(marker));
  EXPECT_EQ(read_file(pkg / "log.json"),
            "{\"model\": \"" + python_json(model.model_path) +
                "\", \"dtype\": \"float8_e4m3fn\", \"len\": 512}\n[\"" + python_json(prompt) +
                "\"]");
}

}  // namespace
}  // namespace bc
