#include "optimizer/pipeline.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "optimizer/cache.hpp"
#include "optimizer/fixtures.hpp"

namespace bc {
namespace {

namespace fs = std::filesystem;
using testing::cpu_only;

class PipelineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("bc-pipeline-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root_ / "home");
    if (const char* h = std::getenv("HOME")) old_home_ = h;
    ::setenv("HOME", (root_ / "home").c_str(), 1);
    model_.model_path = (root_ / "m.gguf").string();
    model_.format = ModelFormat::Gguf;
    model_.param_count = 6'738'415'616;
    std::ofstream(model_.model_path) << "GGUF";
  }
  void TearDown() override {
    if (old_home_) ::setenv("HOME", old_home_->c_str(), 1);
    fs::remove_all(root_);
  }

  static Expected<BenchmarkResult> no_tools(const RuntimeConfig&, const ModelProfile&,
                                            const std::string&) {
    return fail(AdapterError::not_installed("tool", "hint"));
  }

  fs::path root_;
  std::optional<std::string> old_home_;
  ModelProfile model_;
};

TEST_F(PipelineTest, StageLinesThenCacheHit) {
  const auto hw = cpu_only(8, 16000);
  CaptureSink first;
  auto r = run_pipeline(model_, std::nullopt, hw, true, first, no_tools);
  ASSERT_TRUE(r) << r.error().full_message();
  auto lines = first.lines();
  ASSERT_GE(lines.size(), 5u);
  EXPECT_EQ(lines[0], "[Stage 1/4] Hardware: 8 cores, GPU=no, VRAM=none, RAM=16000MB");
  EXPECT_EQ(lines[1].rfind("[Stage 2/4] Model: workload=", 0), 0u);
  EXPECT_NE(lines[1].find(", params=6.7B, FP16=13477MB"), std::string::npos) << lines[1];
  const auto stage3 = std::find_if(lines.begin(), lines.end(), [](const std::string& l) {
    return l.rfind("[Stage 3/4]", 0) == 0;
  });
  ASSERT_NE(stage3, lines.end());
  EXPECT_EQ(*stage3, "[Stage 3/4] Preselected runtimes: [LlamaCpp, Ollama]");
  EXPECT_EQ(*(stage3 + 1),
            "[Stage 4/4] Bayesian optimization (hardware-aware estimation): 5 initial samples + 7 "
            "refinement iterations");
  EXPECT_EQ((stage3 + 2)->rfind("[Bayes init", 0), 0u);

  CaptureSink second;
  auto again = run_pipeline(model_, std::nullopt, hw, true, second, no_tools);
  ASSERT_TRUE(again);
  EXPECT_EQ(*again, *r);
  EXPECT_EQ(second.lines(),
            std::vector<std::string>{"[brindlecove] Cache hit \u2014 returning stored result (use "
                                     "--no-cache to force re-run)"});
}

TEST_F(PipelineTest, CacheSwitchOffNeitherReadsNorWrites) {
  const auto hw = cpu_only(8, 16000);
  CaptureSink sink;
  ASSERT_TRUE(run_pipeline(model_, std::nullopt, hw, false, sink, no_tools));
  EXPECT_FALSE(fs::exists(root_ / "home" / ".quarlent"));
  ASSERT_TRUE(store_cached_result(hw, model_, {}));
  CaptureSink again;
  ASSERT_TRUE(run_pipeline(model_, std::nullopt, hw, false, again, no_tools));
  EXPECT_EQ(again.lines()[0].rfind("[Stage 1/4]", 0), 0u);
}

TEST_F(PipelineTest, StoreFailureWarnsAndStillReturns) {
  std::ofstream(root_ / "home" / ".quarlent") << "not a directory";
  CaptureSink sink;
  auto r = run_pipeline(model_, std::nullopt, cpu_only(8, 16000), true, sink, no_tools);
  ASSERT_TRUE(r);
  EXPECT_EQ(sink.lines().back().rfind("[brindlecove] Warning: could not write cache: ", 0), 0u)
      << sink.lines().back();
}

TEST_F(PipelineTest, FailedFallbackChainsTheLatencyCause) {
  auto hw = testing::with_gpu(cpu_only(8, 16000), GpuVendor::Nvidia, 4096);
  model_.param_count = 100'000'000'000;
  CaptureSink sink;
  auto r = run_pipeline(model_, 10.0, hw, true, sink, no_tools);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().full_message(),
            "cartesian fallback also failed: no candidate configurations generated for this "
            "hardware / model combination: no valid configuration found: no configuration meets "
            "the latency constraint of 10.0 ms. Try relaxing --latency or freeing RAM.");
  EXPECT_NE(sink.lines().back().find("falling back to cartesian search"), std::string::npos);
}

}  // namespace
}  // namespace bc
