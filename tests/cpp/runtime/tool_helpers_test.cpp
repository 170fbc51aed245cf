#include "runtime/tool_helpers.hpp"

#include <gtest/gtest.h>

#include <limits>

#include "runtime/fake_tools.hpp"
#include "runtime/runner_location.hpp"

namespace bc {
namespace {

using testing::FakeRun;
using testing::FakeTools;
using testing::ScopedEnv;
using testing::TempDir;

TEST(FindExecutable, UnsetPathFindsNothing) {
  FakeTools tools;
  tools.add("llama-cli", {});
  ScopedEnv no_path("PATH", std::nullopt);
  EXPECT_EQ(find_executable("llama-cli"), std::nullopt);
}

TEST(FindExecutable, SkipsNonExecutablesAndDirectoriesInPathOrder) {
  TempDir dirs;
  testing::write_file(dirs / "a/tool", "#!/bin/sh\n", /*executable=*/false);
  std::filesystem::create_directories(dirs / "b/tool");
  testing::write_file(dirs / "c/tool", "#!/bin/sh\n", true);
  testing::write_file(dirs / "d/tool", "#!/bin/sh\n", true);
  const std::string d = dirs.path().string();
  ScopedEnv path("PATH", d + "/missing:" + d + "/a:" + d + "/b:" + d + "/c/:" + d + "/d");
  // Formed from the entry as written, without doubling its trailing '/'.
  EXPECT_EQ(find_executable("tool"), d + "/c/tool");
  EXPECT_EQ(find_executable("other"), std::nullopt);
}

TEST(FindExecutable, FollowsSymbolicLinks) {
  TempDir dirs;
  testing::write_file(dirs / "real/tool", "#!/bin/sh\n", true);
  std::filesystem::create_directories(dirs / "bin");
  std::filesystem::create_symlink(dirs / "real/tool", dirs / "bin/tool");
  std::filesystem::create_symlink(dirs / "real/nothing", dirs / "bin/dangling");
  ScopedEnv path("PATH", (dirs / "bin").string());
  EXPECT_EQ(find_executable("tool"), (dirs / "bin/tool").string());
  EXPECT_EQ(find_executable("dangling"), std::nullopt);
}

TEST(OutputText, DecodesLossilyAndTrimsUnicodeWhiteSpace) {
  EXPECT_EQ(output_text(" \t\r\n\u00a0error: bad\xff model\u3000\n"), "error: bad\uFFFD model");
  EXPECT_EQ(output_text(""), "");
  EXPECT_EQ(output_text("\n\n"), "");
  EXPECT_EQ(output_text("a\n\nb"), "a\n\nb");
}

TEST(EstimatePeakMemory, WeightsOnlyInDecimalMegabytes) {
  using Q = QuantizationStrategy;
  struct Case {
    std::optional<uint64_t> params;
    Q quantization;
    uint64_t expected;
  } cases[] = {
      {std::nullopt, Q::F16, 0},
      {7'000'000'000, Q::Q4_K_M, 3500},
      {7'000'000'000, Q::F16, 14000},
      {7'000'000'000, Q::Int8, 7000},
      {7'000'000'000, Q::Q4_0, 3500},
      {7'000'000'000, Q::Int4, 3500},
      {1'000'000'000, Q::Q8_0, 1000},
      {1'999'999, Q::Q8_0, 1},  // truncated, not rounded
      {0, Q::F16, 0},
      {std::numeric_limits<uint64_t>::max(), Q::F16, 36'893'488'147'419},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(estimate_peak_memory_mb(c.params, c.quantization), c.expected)
        << name(c.quantization) << " " << c.params.value_or(0);
  }
}

TEST(WordScanners, FirstOccurrenceOfTheMarkerDecides) {
  using W = std::optional<std::string_view>;
  struct Case {
    std::string_view line, marker;
    W before, after;
  } cases[] = {
      {"(   4.64 ms per token,   215.48 tokens per second)", "tokens per second", "215.48", ")"},
      {"eval rate:   12.5 tokens/s and 99 tokens/s", "tokens/s", "12.5", "and"},
      {"Throughput:591.3 qps", "Throughput:", std::nullopt, "591.3"},
      {"   Throughput:   \t", "Throughput:", std::nullopt, std::nullopt},
      {"no marker here", "Throughput:", std::nullopt, std::nullopt},
      {"a\u00a0b\u2003marker\u3000c", "marker", "b", "c"},
      {"x marker", "marker", "x", std::nullopt},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(last_word_before(c.line, c.marker), c.before) << c.line;
    EXPECT_EQ(first_word_after(c.line, c.marker), c.after) << c.line;
  }
}

TEST(FindGenerationLine, PrefersTheFirstLineThatIsNotAPromptLine) {
  using L = std::vector<std::string_view>;
  L real = {"prompt eval rate: 210.6 tokens/s", "eval rate: 9 per s", "eval rate: 40.5 tokens/s",
            "eval rate: 41 tokens/s"};
  EXPECT_EQ(find_generation_line(real, "eval rate", "tokens/s"), "eval rate: 40.5 tokens/s");
  L prompts_only = {"prompt eval rate: 1 tokens/s", "x: prompt eval rate: 2 tokens/s"};
  EXPECT_EQ(find_generation_line(prompts_only, "eval rate", "tokens/s"), prompts_only[0]);
  // "prompt" must be a whole word right before the marker.
  L glued = {"prompt_eval rate: 3 tokens/s", "eval rate: 4 tokens/s"};
  EXPECT_EQ(find_generation_line(glued, "eval rate", "tokens/s"), glued[0]);
  EXPECT_EQ(find_generation_line({}, "eval rate", "tokens/s"), std::nullopt);
  EXPECT_EQ(find_generation_line(L{"eval duration: 1s"}, "eval duration"), "eval duration: 1s");
}

TEST(RunnerLocation, ParentDirectoryWalksLikeAPath) {
  using P = std::optional<std::filesystem::path>;
  EXPECT_EQ(parent_directory("/a/b"), P("/a"));
  EXPECT_EQ(parent_directory("/a/b/"), P("/a"));
  EXPECT_EQ(parent_directory("/a"), P("/"));
  EXPECT_EQ(parent_directory("/"), std::nullopt);
  EXPECT_EQ(parent_directory("name"), P(""));
  EXPECT_EQ(parent_directory(""), std::nullopt);
}

TEST(RunnerLocation, CandidatesInSearchOrder) {
  auto list = onnx_runner_candidates(std::filesystem::path("/opt/host/bin/python3.11"),
                                     std::string("/src/tree/a/b/c/d"),
                                     std::filesystem::path("/site/brindlecove"));
  std::vector<std::filesystem::path> expected = {
      "/opt/host/bin/python/brindlecove/onnx_runner.py",
      "/src/tree/a/b/c/d/python/brindlecove/onnx_runner.py",
      "/src/tree/a/b/c/python/brindlecove/onnx_runner.py",
      "/src/tree/a/b/python/brindlecove/onnx_runner.py",
      "/src/tree/a/python/brindlecove/onnx_runner.py",
      "/src/tree/python/brindlecove/onnx_runner.py",
      "/site/brindlecove/onnx_runner.py",
  };
  EXPECT_EQ(list, expected);
  // The walk ends early at the root; unknown steps contribute nothing.
  EXPECT_EQ(onnx_runner_candidates(std::nullopt, std::string("/x"), std::nullopt),
            (std::vector<std::filesystem::path>{"/x/python/brindlecove/onnx_runner.py",
                                                "/python/brindlecove/onnx_runner.py"}));
  EXPECT_TRUE(onnx_runner_candidates(std::nullopt, std::nullopt, std::nullopt).empty());
}

TEST(RunnerLocation, DevelopmentDirectoryReachesFourLevelsUp) {
  TempDir tree;
  testing::write_file(tree / "python/brindlecove/onnx_runner.py", "");
  const auto four = tree / "l1/l2/l3/l4";
  const auto five = tree / "l1/l2/l3/l4/l5";
  std::filesystem::create_directories(five);
  EXPECT_EQ(first_existing(onnx_runner_candidates(std::nullopt, four.string(), std::nullopt)),
            tree / "python/brindlecove/onnx_runner.py");
  EXPECT_EQ(first_existing(onnx_runner_candidates(std::nullopt, five.string(), std::nullopt)),
            std::nullopt);
  // An installed package keeps the script beside its extension module.
  testing::write_file(tree / "site/brindlecove/onnx_runner.py", "");
  EXPECT_EQ(first_existing(
                onnx_runner_candidates(std::nullopt, five.string(), tree / "site/brindlecove")),
            tree / "site/brindlecove/onnx_runner.py");
}

TEST(RunnerLocation, LibraryDirectoryIsThatOfTheBinaryItIsLinkedInto) {
  auto dir = runtime_library_directory();
  auto exe = host_executable_path();
  ASSERT_TRUE(dir && exe);
  EXPECT_TRUE(std::filesystem::equivalent(*dir, exe->parent_path()));
}

TEST(RunnerLocation, DevelopmentVariableMustBeUtf8) {
  {
    ScopedEnv dev(kDevDirVariable, "/some/where");
    EXPECT_EQ(dev_dir_from_env(), "/some/where");
  }
  {
    ScopedEnv dev(kDevDirVariable, "/bad\xff");
    EXPECT_EQ(dev_dir_from_env(), std::nullopt);
  }
  ScopedEnv dev(kDevDirVariable, std::nullopt);
  EXPECT_EQ(dev_dir_from_env(), std::nullopt);
}

}  // namespace
}  // namespace bc
