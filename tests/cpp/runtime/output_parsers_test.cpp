// Tables of tool outputs, fed straight to the pure readers.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "runtime/fixtures.hpp"
#include "runtime/llamacpp_adapter.hpp"
#include "runtime/ollama_adapter.hpp"
#include "runtime/onnx_adapter.hpp"
#include "runtime/tensorrt_adapter.hpp"
#include "runtime/vllm_adapter.hpp"

namespace bc {
namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
using Figures = std::optional<TimingFigures>;

// Each output shape a llama.cpp build prints today or printed before.
constexpr const char* kLlamaPerfLines =
    "llama_perf_sampler_print:    sampling time =       5.10 ms /    57 runs   (    0.09 ms per "
    "token, 11176.47 tokens per second)\n"
    "llama_perf_context_print:        load time =     300.12 ms\n"
    "llama_perf_context_print: prompt eval time =      50.00 ms /     8 tokens (    6.25 ms per "
    "token,   160.00 tokens per second)\n"
    "llama_perf_context_print:        eval time =     227.40 ms /    49 runs   (    4.64 ms per "
    "token,   215.48 tokens per second)\n"
    "llama_perf_context_print:       total time =     290.00 ms /    57 tokens\n";

TEST(LlamaCppOutput, ReadsEveryShape) {
  struct Case {
    const char* what;
    std::string text;
    Figures expected;
  } cases[] = {
      {"current llama-cli summary",
       "Once upon a time, a fox\n\n[ Prompt: 8888.9 t/s | Generation: 2163.1 t/s ]\n",
       TimingFigures{2163.1, 1000.0 / 2163.1}},
      {"perf lines: the generation line, not the sampler or prompt line", kLlamaPerfLines,
       TimingFigures{215.48, 4.64}},
      {"verbose slot timing",
       "0.00.233.001 I slot print_timing: id  0 | task 0 | prompt eval time =       1.00 ms /     "
       "8 tokens (    0.12 ms per token,  8000.00 tokens per second)\n"
       "0.00.234.099 I slot print_timing: id  0 | task 0 |        eval time =      20.49 ms /    "
       "50 tokens (    0.42 ms per token,  2391.76 tokens per second)\n",
       TimingFigures{2391.76, 0.42}},
      {"one token: infinite rate",
       "llama_perf_context_print:        eval time =       0.00 ms /     1 runs   (    0.00 ms "
       "per token,      inf tokens per second)\n",
       TimingFigures{kInf, 0.0}},
      {"only a prompt line: it stands",
       "prompt eval time = 50.00 ms / 8 tokens ( 6.25 ms per token, 160.00 tokens per second)",
       TimingFigures{160.0, 6.25}},
      {"eval-time line without a rate is skipped",
       "eval time = 227.40 ms / 49 runs\neval time = x ( 4.5 ms per token, 222.2 tokens per "
       "second)\n",
       TimingFigures{222.2, 4.5}},
      {"an eval-time line beats the summary",
       "[ Prompt: 1.0 t/s | Generation: 2.0 t/s ]\neval time = ( 3.0 ms per token, 333.0 tokens "
       "per second)\n",
       TimingFigures{333.0, 3.0}},
      {"CRLF line endings", "eval time = (\t4.0 ms per token, 250 tokens per second)\r\n",
       TimingFigures{250.0, 4.0}},
      {"summary needs t/s on its line",
       "Generation: 12\n[ Prompt: 1 t/s | Generation: 30.5 t/s ]\n",
       TimingFigures{30.5, 1000.0 / 30.5}},
      {"summary rate 0", "[ Prompt: 1 t/s | Generation: 0.0 t/s ]", TimingFigures{0.0, kInf}},
      // Unreadable: the first deciding line is never passed over.
      {"unreadable rate in the deciding line",
       "eval time = ( 4.64 ms per token, 215.48, tokens per second)\n"
       "eval time = ( 4.00 ms per token, 250.00 tokens per second)\n",
       std::nullopt},
      {"unreadable ms per token",
       "eval time = (4.64 ms per token, 215.48 tokens per second)\n"
       "eval time = ( 4.00 ms per token, 250.00 tokens per second)\n",
       std::nullopt},
      {"no ms-per-token marker", "eval time = 227.40 ms, 215.48 tokens per second", std::nullopt},
      {"unreadable summary", "[ Prompt: 1 t/s | Generation: fast t/s ]\n", std::nullopt},
      {"summary cut short", "[ Prompt: 1 t/s | Generation:", std::nullopt},
      {"generated text only", "Once upon a time\n", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = parse_llamacpp_output(c.text);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.what;
    if (!got) continue;
    EXPECT_DOUBLE_EQ(got->tokens_per_sec, c.expected->tokens_per_sec) << c.what;
    EXPECT_DOUBLE_EQ(got->latency_ms, c.expected->latency_ms) << c.what;
  }
}

TEST(OllamaOutput, ReadsTheGenerationStatistics) {
  struct Case {
    const char* what;
    std::string text;
    Figures expected;
  } cases[] = {
      {"ollama run --verbose", testing::kOllamaVerbose, TimingFigures{40.5, 1234.567}},
      {"duration in milliseconds falls back to the rate",
       "prompt eval duration: 2.0s\neval duration:        523.456ms\neval rate: 40.0 tokens/s\n",
       TimingFigures{40.0, 25.0}},
      {"only prompt lines stand", "prompt eval duration: 0.5s\nprompt eval rate: 200 tokens/s\n",
       TimingFigures{200.0, 500.0}},
      {"rate line without tokens/s is skipped",
       "eval rate: 12 t/s\nsome eval rate here: 20 tokens/s\neval duration: 2.5s\n",
       TimingFigures{20.0, 2500.0}},
      {"trailing s characters all go", "eval rate: 10 tokens/s\neval duration: 1.5ss\n",
       TimingFigures{10.0, 1500.0}},
      {"no duration line", "eval rate: 8 tokens/s", TimingFigures{8.0, 125.0}},
      {"rate 0 without duration", "eval rate: 0 tokens/s\n", TimingFigures{0.0, kInf}},
      {"Go duration with minutes", "eval rate: 4 tokens/s\neval duration: 1m2.5s\n",
       TimingFigures{4.0, 250.0}},
      {"no rate", "eval duration: 1s\neval count: 5 token(s)\n", std::nullopt},
      {"rate not a number", "eval rate: n/a tokens/s\neval rate: 5 tokens/s\n", std::nullopt},
      {"rate word missing", "eval rate:tokens/s\n", std::nullopt},
      {"empty", "", std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = parse_ollama_output(c.text);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.what;
    if (!got) continue;
    EXPECT_DOUBLE_EQ(got->tokens_per_sec, c.expected->tokens_per_sec) << c.what;
    EXPECT_DOUBLE_EQ(got->latency_ms, c.expected->latency_ms) << c.what;
  }
}

TEST(OllamaTag, StemLowerCasedWithOtherCharactersAsDashes) {
  struct Case {
    std::string path, tag;
  } cases[] = {
      {"Llama-3.2-1B-Instruct.Q4_K_M.gguf", "llama-3-2-1b-instruct-q4-k-m"},
      {"/models/My Model 2.gguf", "my-model-2"},
      {"/models/a.b.c", "a-b"},
      {"/models/.hidden", "-hidden"},
      {"/models/noext", "noext"},
      {"/models/trailing.", "trailing"},
      {"/models/x/", "x"},
      {"/models/x/.", "x"},
      {"/models/..", "model"},
      {"/", "model"},
      {"", "model"},
      {".", "model"},
      {"/m/\xC3\x84pfel-Modell.gguf", "\xC3\xA4pfel-modell"},
      {"/m/\xE6\xA8\xA1\xE5\x9E\x8B\xE2\x80\x94v\xD9\xA3.gguf",
       "\xE6\xA8\xA1\xE5\x9E\x8B-v\xD9\xA3"},
      // Superscripts, fractions and circled numbers are numeric too.
      {"/m/x\xC2\xB2\xC2\xBD\xE2\x91\xA0_\xF0\x9F\x84\x80.gguf",
       "x\xC2\xB2\xC2\xBD\xE2\x91\xA0-\xF0\x9F\x84\x80"},
      {"/m/bad\xFF.gguf", "model"},
      {"/m/fine.\xFF", "fine"},
  };
  for (const auto& c : cases) EXPECT_EQ(ollama_model_tag(c.path), c.tag) << c.path;
}

constexpr const char* kTrtexecReport =
    "[08/01/2024-10:00:00] [I] === Performance summary ===\n"
    "[08/01/2024-10:00:00] [I] Throughput: 591.364 qps\n"
    "[08/01/2024-10:00:00] [I] Latency: min = 1.64258 ms, max = 1.77148 ms, mean = 1.68506 ms, "
    "median = 1.68359 ms, percentile(90%) = 1.70996 ms\n"
    "[08/01/2024-10:00:00] [I] GPU Memory: 1234 MiB\n";

TEST(TrtexecOutput, ReadsThroughputMeanLatencyAndMemory) {
  struct Case {
    const char* what;
    std::string text;
    std::optional<BenchmarkResult> expected;
    std::string error;
  } cases[] = {
      {"full report", kTrtexecReport, BenchmarkResult{591.364, 1.68506, 1234}, ""},
      {"comma glued to the mean", "Throughput: 10\nLatency: min = 1, mean = 2.5,, median = 3\n",
       BenchmarkResult{10, 2.5, 0}, ""},
      {"memory not an integer", "Throughput: 10\nLatency: mean = 2\nGPU Memory: 12.5 MiB\n",
       BenchmarkResult{10, 2, 0}, ""},
      {"first throughput line decides", "Throughput: n/a\nThroughput: 10\nLatency: mean = 2\n",
       std::nullopt, "could not parse throughput from trtexec output"},
      {"throughput wins over latency", "Latency: mean = x\n", std::nullopt,
       "could not parse throughput from trtexec output"},
      {"latency line lacks 'mean ='", "Throughput: 10\nLatency: mean: 2.5 ms\n", std::nullopt,
       "could not parse latency from trtexec output"},
      {"no latency line", "Throughput: 10 qps\n", std::nullopt,
       "could not parse latency from trtexec output"},
      {"empty", "", std::nullopt, "could not parse throughput from trtexec output"},
  };
  for (const auto& c : cases) {
    auto got = parse_trtexec_output(c.text);
    if (c.expected) {
      ASSERT_TRUE(got) << c.what << ": " << got.error().message();
      EXPECT_EQ(*got, *c.expected) << c.what;
    } else {
      ASSERT_FALSE(got) << c.what;
      EXPECT_EQ(got.error().message(), "inference failed: " + c.error) << c.what;
    }
  }
}

TEST(ComputeCapability, MajorAndMinorOfTheFirstGpu) {
  using C = std::optional<std::pair<uint32_t, uint32_t>>;
  struct Case {
    std::string text;
    C expected;
  } cases[] = {
      {"8.9\n", C({8, 9})}, {" 7.5 \r\n6.1\n", C({7, 5})}, {"6.1", C({6, 1})},
      {"+7.0", C({7, 0})},  {"7.5.1", C({7, 5})},          {"8", std::nullopt},
      {"8.", std::nullopt}, {"7 .5", std::nullopt},        {"N/A", std::nullopt},
      {"", std::nullopt},   {"\n8.9", std::nullopt},       {"99999999999.0", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_compute_capability(c.text), c.expected) << c.text;
}

TEST(OnnxRequest, CompactAlphabeticalWithEscapedPath) {
  RuntimeConfig cpu{RuntimeKind::OnnxRuntime, QuantizationStrategy::F16, 4, 2, 0};
  EXPECT_EQ(onnx_request(cpu, "/m/a\"b\\c.onnx"),
            R"({"batch_size":2,"execution_provider":"CPUExecutionProvider",)"
            R"("model_path":"/m/a\"b\\c.onnx","prompt_tokens":50,"threads":4})");
  RuntimeConfig gpu = cpu;
  gpu.gpu_layers = 1;
  EXPECT_NE(onnx_request(gpu, "m").find(R"("execution_provider":"CUDAExecutionProvider")"),
            std::string::npos);
}

TEST(OnnxReply, SuccessErrorOrUnparseable) {
  struct Case {
    const char* text;
    std::optional<BenchmarkResult> expected;
    std::string error;  // reason after "inference failed: "
  } cases[] = {
      {R"({"tokens_per_sec": 12.5, "latency_ms": 80, "peak_memory_mb": 512})",
       BenchmarkResult{12.5, 80.0, 512}, ""},
      {R"({"peak_memory_mb":0,"latency_ms":1e2,"tokens_per_sec":3,"note":[1,{"a":1,"a":2}]})",
       BenchmarkResult{3.0, 100.0, 0}, ""},
      {"\n\n{\"tokens_per_sec\":1,\"latency_ms\":2,\"peak_memory_mb\":18446744073709551615}\n",
       BenchmarkResult{1, 2, 18446744073709551615ull}, ""},
      {R"({"tokens_per_sec":1,"latency_ms":2,"peak_memory_mb":3,"error":"ignored"})",
       BenchmarkResult{1, 2, 3}, ""},
      {R"({"error": "model file not found: /x.onnx"})", std::nullopt,
       "model file not found: /x.onnx"},
      {R"({"tokens_per_sec":1,"tokens_per_sec":1,"latency_ms":2,"peak_memory_mb":3,"error":"dup"})",
       std::nullopt, "dup"},
      {R"({"tokens_per_sec":1,"latency_ms":2,"peak_memory_mb":1.5})", std::nullopt, "unparseable"},
      {R"({"tokens_per_sec":1,"latency_ms":2,"peak_memory_mb":-1})", std::nullopt, "unparseable"},
      {R"({"tokens_per_sec":1,"latency_ms":2,"peak_memory_mb":18446744073709551616})", std::nullopt,
       "unparseable"},
      {R"({"tokens_per_sec":"1","latency_ms":2,"peak_memory_mb":3})", std::nullopt, "unparseable"},
      {R"({"latency_ms":2,"peak_memory_mb":3})", std::nullopt, "unparseable"},
      {R"({"error": 5})", std::nullopt, "unparseable"},
      {R"({"error":"a","error":"b"})", std::nullopt, "unparseable"},
      {"{\"error\":\"x\"}\nTraceback (most recent call last):", std::nullopt, "unparseable"},
      {R"([{"error":"x"}])", std::nullopt, "unparseable"},
      {R"({"error":"x")", std::nullopt, "unparseable"},
      {"\xEF\xBB\xBF{\"error\":\"x\"}", std::nullopt, "unparseable"},
      {"", std::nullopt, "unparseable"},
  };
  for (const auto& c : cases) {
    auto got = parse_onnx_reply(c.text);
    if (c.expected) {
      ASSERT_TRUE(got) << c.text << ": " << got.error().message();
      EXPECT_EQ(*got, *c.expected) << c.text;
      continue;
    }
    ASSERT_FALSE(got) << c.text;
    const std::string reason = c.error == "unparseable"
                                   ? "unparseable onnx_runner output: " + std::string(c.text)
                                   : c.error;
    EXPECT_EQ(got.error().message(), "inference failed: " + reason);
    ASSERT_NE(got.error().adapter_error(), nullptr);
    EXPECT_EQ(got.error().adapter_error()->kind, AdapterError::Kind::InferenceFailed);
  }
}

TEST(VllmReport, NeedsPositiveRateAndElapsedTime) {
  struct Case {
    const char* text;
    Figures expected;
  } cases[] = {
      {R"({"tokens": 50, "elapsed_s": 1.25, "tps": 40.0})", TimingFigures{40.0, 1250.0}},
      {R"({"tps": 12, "elapsed_s": 2, "extra": null})", TimingFigures{12.0, 2000.0}},
      {R"({"tokens": 0, "elapsed_s": 0.5, "tps": 0.0})", std::nullopt},
      {R"({"tokens": 5, "elapsed_s": 0, "tps": 3})", std::nullopt},
      {R"({"tokens": 5, "elapsed_s": -1, "tps": 3})", std::nullopt},
      {R"({"tokens": 5, "elapsed_s": 1, "tps": "3"})", std::nullopt},
      {R"({"tokens": 5, "tps": 3})", std::nullopt},
      {R"({"tps": 3, "tps": 4, "elapsed_s": 1})", std::nullopt},
      {"INFO loading model\n{\"tokens\": 5, \"elapsed_s\": 1, \"tps\": 5}", std::nullopt},
      {"[]", std::nullopt},
      {"\xEF\xBB\xBF{\"tps\": 3, \"elapsed_s\": 1}", std::nullopt},
      {"", std::nullopt},
  };
  for (const auto& c : cases) {
    auto got = parse_vllm_report(c.text);
    ASSERT_EQ(got.has_value(), c.expected.has_value()) << c.text;
    if (got) {
      EXPECT_EQ(*got, *c.expected) << c.text;
    }
  }
}

TEST(VllmScript, FifteenLinesWithEscapedLiterals) {
  const std::string script = vllm_script("/m/a\"b\\c", "float16", "Say \"hi\" \\ now");
  EXPECT_EQ(script,
            "\n"
            "import time, json, sys\n"
            "try:\n"
            "    from vllm import LLM, SamplingParams\n"
            "    llm = LLM(model=\"/m/a\\\"b\\\\c\", dtype=\"float16\", max_model_len=512)\n"
            "    params = SamplingParams(max_tokens=50)\n"
            "    t0 = time.perf_counter()\n"
            "    out = llm.generate([\"Say \\\"hi\\\" \\\\ now\"], params)\n"
            "    elapsed_s = time.perf_counter() - t0\n"
            "    tokens = sum(len(o.outputs[0].token_ids) for o in out)\n"
            "    tps = tokens / elapsed_s if elapsed_s > 0 else 0.0\n"
            "    print(json.dumps({\"tokens\": tokens, \"elapsed_s\": elapsed_s, \"tps\": tps}))\n"
            "except Exception as e:\n"
            "    print(json.dumps({\"error\": str(e)}), file=sys.stderr)\n"
            "    sys.exit(1)\n");
  EXPECT_EQ(python_string_escape("plain prompt\nline"), "plain prompt\nline");
  // A backslash before a quote must not end up escaping the added backslash.
  EXPECT_EQ(python_string_escape("\\\""), "\\\\\\\"");
}

TEST(Dtypes, ByQuantization) {
  using Q = QuantizationStrategy;
  EXPECT_EQ(vllm_dtype(Q::Q8_0), "float8_e4m3fn");
  EXPECT_EQ(vllm_dtype(Q::Int8), "float8_e4m3fn");
  for (Q q : {Q::F16, Q::Q4_K_M, Q::Q4_0, Q::Int4}) EXPECT_EQ(vllm_dtype(q), "float16");
  for (Q q : {Q::F16, Q::Q8_0, Q::Q4_K_M, Q::Q4_0})
    EXPECT_EQ(trtexec_precision_switch(q), "--fp16");
  for (Q q : {Q::Int8, Q::Int4}) EXPECT_EQ(trtexec_precision_switch(q), "--int8");
}

}  // namespace
}  // namespace bc
