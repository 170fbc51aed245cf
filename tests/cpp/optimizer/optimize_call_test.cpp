#include "optimizer/optimize_call.hpp"

#include <gtest/gtest.h>

namespace bc {
namespace {

TEST(DefaultOutputPath, StemBesideTheModel) {
  struct Case {
    const char* model;
    const char* output;
  } cases[] = {
      {"models/llama.gguf", "models/llama-optimized.gguf"},
      {"llama.gguf", "llama-optimized.gguf"},
      {"/x/m.q8.gguf", "/x/m.q8-optimized.gguf"},
      {"net.onnx", "net-optimized.gguf"},
      {"noext", "noext-optimized.gguf"},
      {"dir/.hidden", "dir/.hidden-optimized.gguf"},
      {"..", "model-optimized.gguf"},
      {"", "model-optimized.gguf"},
  };
  for (const auto& c : cases) EXPECT_EQ(default_output_path(c.model), c.output) << c.model;
}

TEST(OptimizeModel, UnknownFormatAndGpuStopEarly) {
  CaptureSink sink;
  OptimizeRequest request;
  request.model_path = "missing.gguf";
  request.format = "ONNX2";
  auto r = optimize_model(request, sink);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().full_message(), "unknown model format 'onnx2'; expected 'onnx' or 'gguf'");

  request.format = "Gguf";
  request.gpu = "rtx_4090";
  r = optimize_model(request, sink);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().full_message(),
            "Unknown GPU model: 'rtx_4090'. Try: 4090, 4080, 3090, 3080, 3070, 2080ti, a100, "
            "h100, or 'cpu'");
  EXPECT_TRUE(sink.lines().empty());
}

}  // namespace
}  // namespace bc
