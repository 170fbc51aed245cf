// Inspecting an ONNX model of about 1 GB with its weights embedded, against
// reading the file once. The inspection should take at most twice the read,
// and its peak memory must not grow with the file.
//
//   onnx_analyze_bench [benchmark flags]     timings (input from
//                                            BRINDLECOVE_BENCH_DATA/model-1gb.onnx,
//                                            or BRINDLECOVE_BENCH_ONNX)
//   onnx_analyze_bench --peak-rss FILE       one inspection in this fresh
//                                            process; prints JSON with the
//                                            growth of VmHWM over it

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "model/model_description.hpp"
#include "model_bench_inputs.hpp"

namespace {

std::string onnx_input() {
  if (const char* p = std::getenv("BRINDLECOVE_BENCH_ONNX"); p != nullptr && *p != '\0') return p;
  return bc::bench::data_dir() + "/model-1gb.onnx";
}

void BM_InspectOnnx(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    auto ir = bc::inspect_model(path);
    if (!ir) state.SkipWithError(ir.error().full_message().c_str());
    benchmark::DoNotOptimize(ir);
  }
}

// Every byte of the file, once, through a 1 MiB buffer.
void BM_ReadOnnxFileOnce(benchmark::State& state, const std::string& path) {
  std::vector<char> buf(1 << 20);
  for (auto _ : state) {
    int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) state.SkipWithError("cannot open the bench input");
    uint64_t total = 0;
    for (ssize_t got; fd >= 0 && (got = ::read(fd, buf.data(), buf.size())) > 0;) total += got;
    if (fd >= 0) ::close(fd);
    benchmark::DoNotOptimize(total);
  }
}

int peak_rss(const std::string& path) {
  long before = bc::bench::status_kb("VmHWM");
  auto start = std::chrono::steady_clock::now();
  auto ir = bc::inspect_model(path);
  double ms =
      std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  long after = bc::bench::status_kb("VmHWM");
  if (!ir) {
    std::fprintf(stderr, "%s\n", ir.error().full_message().c_str());
    return 1;
  }
  std::printf(
      "{\"elapsed_ms\": %.3f, \"hwm_before_kb\": %ld, \"hwm_after_kb\": %ld, "
      "\"peak_delta_kb\": %ld, \"param_count\": %llu, \"layer_count\": %u}\n",
      ms, before, after, after - before,
      static_cast<unsigned long long>(ir->param_count.value_or(0)), ir->layer_count.value_or(0));
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::string(argv[1]) == "--peak-rss") return peak_rss(argv[2]);
  std::string path = onnx_input();
  benchmark::RegisterBenchmark("BM_InspectOnnx", BM_InspectOnnx, path)
      ->Unit(benchmark::kMillisecond);
  benchmark::RegisterBenchmark("BM_ReadOnnxFileOnce", BM_ReadOnnxFileOnce, path)
      ->Unit(benchmark::kMillisecond);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
