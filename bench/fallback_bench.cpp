// The measured fallback's scheduling: 10 candidates whose tool takes 1 s per
// benchmark (a 0.5 s warm-up and a 0.5 s measured run of a fake llama-cli).
// With three runs at a time the ideal wall time is 4 s (3 + 3 + 3 + 1).

#include <benchmark/benchmark.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "optimizer/benchmark_runner.hpp"

namespace {

namespace fs = std::filesystem;

fs::path make_fake_tool_dir() {
  fs::path dir = fs::temp_directory_path() / ("bc-fallback-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  fs::path tool = dir / "llama-cli";
  std::ofstream(tool) << "#!/bin/sh\n"
                         "[ \"$1\" = --version ] && exit 0\n"
                         "sleep 0.5\n"
                         "echo '[ Prompt: 100.0 t/s | Generation: 20.0 t/s ]'\n";
  ::chmod(tool.c_str(), 0755);
  return dir;
}

void BM_TenCandidatesOneSecondEach(benchmark::State& state) {
  const fs::path dir = make_fake_tool_dir();
  const std::string old_path = std::getenv("PATH") ? std::getenv("PATH") : "";
  ::setenv("PATH", (dir.string() + ":/usr/bin:/bin").c_str(), 1);
  bc::ModelProfile model;
  model.model_path = (dir / "model.gguf").string();
  std::ofstream(model.model_path) << "GGUF";  // the adapter checks only the magic
  model.param_count = 1'000'000'000;
  std::vector<bc::RuntimeConfig> candidates;
  for (uint32_t i = 1; i <= 10; ++i)
    candidates.push_back({bc::RuntimeKind::LlamaCpp, bc::QuantizationStrategy::Q4_K_M, i, 512, 0});
  for (auto _ : state) {
    auto outcomes = bc::run_benchmarks(candidates, model);
    for (const auto& o : outcomes)
      if (!o.result) state.SkipWithError(o.result.error().message().c_str());
  }
  state.counters["ideal_s"] = 4.0;
  ::setenv("PATH", old_path.c_str(), 1);
  fs::remove_all(dir);
}
BENCHMARK(BM_TenCandidatesOneSecondEach)
    ->Unit(benchmark::kMillisecond)
    ->Iterations(3)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
