#include "core/json_forms.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace bc {
namespace {

OptimizationResult sample_result() {
  return {{RuntimeKind::LlamaCpp, QuantizationStrategy::Q4_K_M, 8, 4, 0}, {42.0, 23.8, 4361}};
}

TEST(JsonForms, CompactHardwareProfileCpuOnly) {
  HardwareProfile p{
      {8, "Test \"CPU\" \\ \x01\t caf\xc3\xa9", SimdLevel::AVX2}, std::nullopt, {16000, 8000}};
  EXPECT_EQ(
      to_json_compact(p),
      R"({"cpu":{"core_count":8,"brand":"Test \"CPU\" \\ \u0001\t café","simd_level":"AVX2"},)"
      R"("gpu":null,"ram":{"total_mb":16000,"available_mb":8000}})");
}

TEST(JsonForms, CompactHardwareProfileWithGpu) {
  HardwareProfile p{{1, "x", SimdLevel::None},
                    GpuInfo{"NVIDIA GeForce RTX 4090", 24576, std::pair{8u, 9u}, GpuVendor::Nvidia},
                    {1, 0}};
  EXPECT_EQ(
      to_json_compact(p),
      R"({"cpu":{"core_count":1,"brand":"x","simd_level":"None"},"gpu":{"name":"NVIDIA GeForce RTX 4090",)"
      R"("vram_mb":24576,"compute_capability":[8,9],"vendor":"Nvidia"},"ram":{"total_mb":1,"available_mb":0}})");
  p.gpu->compute_capability.reset();
  EXPECT_NE(to_json_compact(p).find(R"("compute_capability":null)"), std::string::npos);
}

TEST(JsonForms, FloatsAreShortestAndKeepFraction) {
  struct Case {
    double value;
    const char* text;
  } cases[] = {{0.0, "0.0"},
               {12.0, "12.0"},
               {0.1, "0.1"},
               {19.2, "19.2"},
               {1e300, "1e+300"},
               {100000.0, "100000.0"},
               {1e15, "1000000000000000.0"},
               {1e16, "1e+16"},
               {0.0001, "0.0001"},
               {0.00001, "1e-05"},
               {-0.0, "-0.0"},
               {-2.5, "-2.5"},
               {std::numeric_limits<double>::quiet_NaN(), "null"},
               {std::numeric_limits<double>::infinity(), "null"}};
  for (const auto& c : cases) {
    EXPECT_EQ(write_json(OrderedJson(c.value)), c.text) << c.value;
  }
}

TEST(JsonForms, ResultRoundTripsCompactAndIndented) {
  auto r = sample_result();
  EXPECT_EQ(
      to_json_compact(r),
      R"({"config":{"runtime":"LlamaCpp","quantization":"Q4_K_M","threads":8,"batch_size":4,"gpu_layers":0},)"
      R"("metrics":{"tokens_per_sec":42.0,"latency_ms":23.8,"peak_memory_mb":4361}})");
  EXPECT_EQ(
      to_json_indented(r),
      "{\n  \"config\": {\n    \"runtime\": \"LlamaCpp\",\n    \"quantization\": \"Q4_K_M\",\n"
      "    \"threads\": 8,\n    \"batch_size\": 4,\n    \"gpu_layers\": 0\n  },\n"
      "  \"metrics\": {\n    \"tokens_per_sec\": 42.0,\n    \"latency_ms\": 23.8,\n"
      "    \"peak_memory_mb\": 4361\n  }\n}");
  for (const auto& text : {to_json_compact(r), to_json_indented(r)}) {
    auto back = read_optimization_result(text);
    ASSERT_TRUE(back) << back.error().full_message();
    EXPECT_EQ(*back, r);
  }
}

TEST(JsonForms, ReaderAcceptsAnyOrderAndExtraMembers) {
  auto back = read_optimization_result(
      R"({"extra":[1,2],"metrics":{"peak_memory_mb":1,"latency_ms":2,"tokens_per_sec":3},)"
      R"("config":{"gpu_layers":0,"batch_size":1,"threads":2,"quantization":"Int4","runtime":"Vllm","x":null}})");
  ASSERT_TRUE(back) << back.error().full_message();
  EXPECT_EQ(back->config.runtime, RuntimeKind::Vllm);
  EXPECT_EQ(back->config.quantization, QuantizationStrategy::Int4);
  EXPECT_EQ(back->metrics.tokens_per_sec, 3.0);
}

TEST(JsonForms, ReaderRejectsBadDocuments) {
  const std::string good = to_json_compact(sample_result());
  auto replace = [&](const std::string& from, const std::string& to) {
    std::string s = good;
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  const std::string bad[] = {
      replace("\"LlamaCpp\"", "\"llamacpp\""),
      replace("42.0", "null"),
      replace("\"threads\":8,", ""),
      replace("\"threads\":8,", "\"threads\":8,\"threads\":9,"),
      replace("\"threads\":8", "\"threads\":8.5"),
      replace("\"threads\":8", "\"threads\":-1"),
      replace("\"threads\":8", "\"threads\":4294967296"),
      replace("\"peak_memory_mb\":4361", "\"peak_memory_mb\":\"4361\""),
      replace("\"Q4_K_M\"", "\"q4_k_m\""),
      good.substr(0, good.size() - 1),
      "[]",
      "",
  };
  for (const auto& text : bad) {
    EXPECT_FALSE(read_optimization_result(text)) << text;
  }
}

TEST(Records, QuantizeTypeNames) {
  EXPECT_EQ(llama_quantize_type(QuantizationStrategy::Int8), "q8_0");
  EXPECT_EQ(llama_quantize_type(QuantizationStrategy::Int4), "q4_0");
  EXPECT_EQ(llama_quantize_type(QuantizationStrategy::Q4_K_M), "q4_k_m");
  EXPECT_EQ(name(QuantizationStrategy::Int8), "Int8");
}

}  // namespace
}  // namespace bc
