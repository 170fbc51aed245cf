// Inspecting a GGUF file shaped like an 8B model, against reading its
// metadata bytes alone. With a warm page cache the inspection should stay
// under 10 ms and under twice the plain read.

#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <vector>

#include "model/gguf_reader.hpp"
#include "model/model_description.hpp"
#include "model_bench_inputs.hpp"

namespace {

bc::bench::LlamaLikeGguf& input() {
  static bc::bench::LlamaLikeGguf in = bc::bench::llama_like_gguf();
  return in;
}

// The analyze_model path: extension, open, header, metadata, derivations.
void BM_InspectGguf(benchmark::State& state) {
  const auto& in = input();
  for (auto _ : state) {
    auto ir = bc::inspect_model(in.path);
    if (!ir) state.SkipWithError(ir.error().full_message().c_str());
    benchmark::DoNotOptimize(ir);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.metadata_end));
}

// Reading the header and metadata bytes in the reader's own 8 KiB steps,
// without parsing them.
void BM_ReadMetadataBytes8K(benchmark::State& state) {
  const auto& in = input();
  std::vector<char> buf(8192);
  for (auto _ : state) {
    int fd = ::open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
    uint64_t left = in.metadata_end;
    while (left > 0) {
      ssize_t got = ::read(fd, buf.data(), std::min<uint64_t>(left, buf.size()));
      if (got <= 0) break;
      left -= static_cast<uint64_t>(got);
    }
    ::close(fd);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.metadata_end));
}

// The same bytes in one read into a buffer made beforehand.
void BM_ReadMetadataBytesOneRead(benchmark::State& state) {
  const auto& in = input();
  std::vector<char> buf(in.metadata_end);
  for (auto _ : state) {
    int fd = ::open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
    ssize_t got = ::pread(fd, buf.data(), buf.size(), 0);
    ::close(fd);
    benchmark::DoNotOptimize(got);
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.metadata_end));
}

// Parsing alone, from memory.
void BM_ParseGgufFromMemory(benchmark::State& state) {
  const auto& in = input();
  std::vector<uint8_t> bytes(in.metadata_end);
  int fd = ::open(in.path.c_str(), O_RDONLY | O_CLOEXEC);
  if (::pread(fd, bytes.data(), bytes.size(), 0) != static_cast<ssize_t>(bytes.size())) {
    state.SkipWithError("short read of the bench input");
  }
  ::close(fd);
  for (auto _ : state) {
    auto m = bc::read_gguf_bytes(bytes);
    benchmark::DoNotOptimize(m);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * in.metadata_end));
}

BENCHMARK(BM_InspectGguf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadMetadataBytes8K)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadMetadataBytesOneRead)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseGgufFromMemory)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  const auto& in = input();
  std::fprintf(stderr, "input: %s (%llu bytes, metadata %llu bytes)\n", in.path.c_str(),
               static_cast<unsigned long long>(in.file_size),
               static_cast<unsigned long long>(in.metadata_end));
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
