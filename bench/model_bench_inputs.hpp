#pragma once
// Inputs for the model-reader benchmarks, kept under one data directory
// (BRINDLECOVE_BENCH_DATA, default ./bench-data; run_model_bench.sh points it
// into build/bench).

#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../tests/cpp/model/gguf_builder.hpp"

namespace bc::bench {

inline std::string data_dir() {
  const char* dir = std::getenv("BRINDLECOVE_BENCH_DATA");
  std::string out = dir != nullptr && *dir != '\0' ? dir : "bench-data";
  std::filesystem::create_directories(out);
  return out;
}

// Reads a "key: N kB" line of /proc/self/status.
inline long status_kb(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  std::string prefix = std::string(key) + ":";
  while (std::getline(f, line)) {
    if (line.rfind(prefix, 0) == 0) return std::strtol(line.c_str() + prefix.size(), nullptr, 10);
  }
  return -1;
}

struct LlamaLikeGguf {
  std::string path;
  uint64_t metadata_end = 0;  // bytes from the start to the end of the KV section
  uint64_t file_size = 0;
};

namespace detail {

// A fixed pseudo-random sequence, so every run writes the same file.
struct Lcg {
  uint64_t state = 0x9E3779B97F4A7C15ull;
  uint32_t next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return static_cast<uint32_t>(state >> 33);
  }
};

inline std::string token(Lcg& rng) {
  static const char alphabet[] =
      "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_.,";
  std::string t = rng.next() % 3 == 0 ? "\xc4\xa0" : "";  // the BPE word-start mark
  size_t len = 1 + rng.next() % 10;
  for (size_t i = 0; i < len; ++i) t += alphabet[rng.next() % (sizeof alphabet - 1)];
  return t;
}

inline uint64_t align32(uint64_t v) { return (v + 31) / 32 * 32; }

}  // namespace detail

// A GGUF file shaped like an 8B model: 32 blocks of width 4096, a 128,000
// entry vocabulary with scores and types, 280,000 merges and 291 tensor
// infos. The tensor data is a hole, so the file reads as about 4.5 GB while
// taking almost no disk.
inline LlamaLikeGguf llama_like_gguf() {
  LlamaLikeGguf out;
  std::string dir = data_dir();
  out.path = dir + "/llama-8b-like.gguf";
  std::string sidecar = out.path + ".metadata_end";
  if (std::filesystem::exists(out.path) && std::filesystem::exists(sidecar)) {
    std::ifstream(sidecar) >> out.metadata_end;
    out.file_size = std::filesystem::file_size(out.path);
    return out;
  }

  using test::GgufBuilder;
  detail::Lcg rng;
  std::vector<std::string> tokens, merges;
  for (int i = 0; i < 128000; ++i) tokens.push_back(detail::token(rng));
  for (int i = 0; i < 280000; ++i) merges.push_back(detail::token(rng) + " " + detail::token(rng));
  std::vector<uint8_t> scores, types;
  for (int i = 0; i < 128000; ++i) {
    test::put_f32(scores, -static_cast<float>(i));
    test::put_u32(types, i < 256 ? 6 : 1);
  }

  GgufBuilder b(3);
  b.kv_string("general.architecture", "llama")
      .kv_string("general.type", "model")
      .kv_string("general.name", "Bench Llama 8B")
      .kv_u32("general.file_type", 15)
      .kv_u32("general.quantization_version", 2)
      .kv_u32("llama.block_count", 32)
      .kv_u32("llama.context_length", 8192)
      .kv_u32("llama.embedding_length", 4096)
      .kv_u32("llama.feed_forward_length", 14336)
      .kv_u32("llama.attention.head_count", 32)
      .kv_u32("llama.attention.head_count_kv", 8)
      .kv_f32("llama.rope.freq_base", 500000.0f)
      .kv_f32("llama.attention.layer_norm_rms_epsilon", 1e-5f)
      .kv_u32("llama.rope.dimension_count", 128)
      .kv_u32("llama.vocab_size", 128000)
      .kv_string("tokenizer.ggml.model", "gpt2")
      .kv_string("tokenizer.ggml.pre", "llama-bpe")
      .kv_string_array("tokenizer.ggml.tokens", tokens)
      .kv_array("tokenizer.ggml.token_type", test::kI32, 128000, types)
      .kv_string_array("tokenizer.ggml.merges", merges)
      .kv_array("tokenizer.ggml.scores", test::kF32, 128000, scores)
      .kv_u32("tokenizer.ggml.bos_token_id", 127744)
      .kv_u32("tokenizer.ggml.eos_token_id", 127745)
      .kv_string("tokenizer.chat_template", std::string(1200, 't'));

  // Q4_K stores 256 weights in 144 bytes; norms stay F32.
  uint64_t offset = 0;
  auto add = [&](const std::string& name, std::vector<uint64_t> dims, bool quantized) {
    uint64_t elements = 1;
    for (uint64_t d : dims) elements *= d;
    b.tensor_info(name, dims, quantized ? 12 : 0, offset);
    offset = detail::align32(offset + (quantized ? elements / 256 * 144 : elements * 4));
  };
  add("token_embd.weight", {4096, 128000}, true);
  for (int i = 0; i < 32; ++i) {
    std::string p = "blk." + std::to_string(i) + ".";
    add(p + "attn_norm.weight", {4096}, false);
    add(p + "attn_q.weight", {4096, 4096}, true);
    add(p + "attn_k.weight", {4096, 1024}, true);
    add(p + "attn_v.weight", {4096, 1024}, true);
    add(p + "attn_output.weight", {4096, 4096}, true);
    add(p + "ffn_norm.weight", {4096}, false);
    add(p + "ffn_gate.weight", {4096, 14336}, true);
    add(p + "ffn_up.weight", {4096, 14336}, true);
    add(p + "ffn_down.weight", {14336, 4096}, true);
  }
  add("output_norm.weight", {4096}, false);
  add("output.weight", {4096, 128000}, true);

  std::vector<uint8_t> head = b.bytes();
  uint64_t data_start = detail::align32(head.size());
  out.metadata_end = b.metadata_end();
  out.file_size = data_start + offset;

  std::string tmp = out.path + ".tmp";
  int fd = ::open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  bool ok = fd >= 0 && ::write(fd, head.data(), head.size()) == static_cast<ssize_t>(head.size()) &&
            ::ftruncate(fd, static_cast<off_t>(out.file_size)) == 0;
  if (fd >= 0) ::close(fd);
  if (!ok) std::abort();
  std::filesystem::rename(tmp, out.path);
  std::ofstream(sidecar) << out.metadata_end << "\n";
  return out;
}

}  // namespace bc::bench
