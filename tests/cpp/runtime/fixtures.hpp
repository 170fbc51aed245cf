#pragma once
// Records and checks shared by the adapter tests.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "core/error.hpp"
#include "core/records.hpp"

namespace bc::testing {

inline ModelProfile model_at(const std::filesystem::path& path, ModelFormat format,
                             std::optional<uint64_t> params = std::nullopt) {
  ModelProfile m;
  m.model_path = path.string();
  m.format = format;
  m.param_count = params;
  return m;
}

inline RuntimeConfig config_for(RuntimeKind kind,
                                QuantizationStrategy q = QuantizationStrategy::Q4_K_M,
                                uint32_t threads = 8, uint32_t batch = 4, uint32_t gpu_layers = 0) {
  return {kind, q, threads, batch, gpu_layers};
}

// The error holds an AdapterError of `kind` whose text is `text`.
inline void expect_adapter_error(const Error& e, AdapterError::Kind kind, const std::string& text) {
  const AdapterError* a = e.find_adapter_error();
  ASSERT_NE(a, nullptr) << e.full_message();
  EXPECT_EQ(a->kind, kind) << e.full_message();
  EXPECT_EQ(e.message(), text);
  EXPECT_EQ(e.cause(), nullptr);
}

inline const std::string kGgufBytes = std::string("GGUF\x03\0\0\0", 8);

// What `ollama run --verbose` prints on stderr: prompt statistics first.
inline constexpr const char* kOllamaVerbose =
    "total duration:       2.345678901s\n"
    "load duration:        12.345678ms\n"
    "prompt eval count:    26 token(s)\n"
    "prompt eval duration: 123.456ms\n"
    "prompt eval rate:     210.60 tokens/s\n"
    "eval count:           50 token(s)\n"
    "eval duration:        1.234567s\n"
    "eval rate:            40.50 tokens/s\n";

}  // namespace bc::testing
