#include "runtime/requantize.hpp"

#include <gtest/gtest.h>

#include "runtime/fake_tools.hpp"

namespace bc {
namespace {

using namespace bc::testing;

const std::string kAdvice =
    " (if the source model is already quantized, ensure llama.cpp >= b2606 is installed)";

TEST(Requantize, FourArgumentsInOrder) {
  FakeTools tools;
  tools.add("llama-quantize", {});
  const std::string tool = tools.tool_path("llama-quantize").string();
  ASSERT_TRUE(requantize_model("/m/in put.gguf", "out.gguf", QuantizationStrategy::Q4_K_M));
  ASSERT_TRUE(requantize_model("a", "b", QuantizationStrategy::Int8));
  ASSERT_TRUE(requantize_model("a", "b", QuantizationStrategy::Int4));
  EXPECT_EQ(tools.calls("llama-quantize"),
            (std::vector<std::vector<std::string>>{
                {tool, "--allow-requantize", "/m/in put.gguf", "out.gguf", "q4_k_m"},
                {tool, "--allow-requantize", "a", "b", "q8_0"},
                {tool, "--allow-requantize", "a", "b", "q4_0"}}));
}

TEST(Requantize, Failures) {
  FakeTools tools;
  struct Case {
    const char* what;
    std::optional<FakeRun> run;  // none: no tool on PATH
    std::string message;
  } cases[] = {
      {"missing", std::nullopt,
       "llama-quantize not found \u2014 install llama.cpp to enable model quantization"},
      {"exit 1", FakeRun{"", "", 1}, "llama-quantize exited with code Some(1)" + kAdvice},
      {"exit 255", FakeRun{"", "", 255}, "llama-quantize exited with code Some(255)" + kAdvice},
      {"killed", FakeRun{"", "", 0, true}, "llama-quantize exited with code None" + kAdvice},
  };
  for (const auto& c : cases) {
    std::filesystem::remove(tools.tool_path("llama-quantize"));
    if (c.run) tools.add("llama-quantize", *c.run);
    auto s = requantize_model("in.gguf", "out.gguf", QuantizationStrategy::F16);
    ASSERT_FALSE(s) << c.what;
    EXPECT_EQ(s.error().message(), c.message) << c.what;
  }
  write_file(tools.tool_path("llama-quantize"), "#!/nonexistent/interpreter\n", true);
  auto s = requantize_model("in.gguf", "out.gguf", QuantizationStrategy::F16);
  ASSERT_FALSE(s);
  EXPECT_EQ(s.error().message(),
            "failed to launch llama-quantize: No such file or directory (os error 2)");
}

}  // namespace
}  // namespace bc
