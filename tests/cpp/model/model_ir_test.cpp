#include <gtest/gtest.h>

#include <limits>
#include <string>

#include "model/gguf_builder.hpp"
#include "model/model_description.hpp"
#include "model/proto_builder.hpp"
#include "model/temp_dir.hpp"

namespace bc {
namespace {

constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

std::string error_of(const Expected<ModelIr>& r) {
  return r ? std::string("<no error>") : r.error().full_message();
}

TEST(ModelExtension, FollowsTheFinalPathComponent) {
  struct Case {
    const char* path;
    const char* ext;
  } cases[] = {
      {"model.gguf", "gguf"},
      {"model.GGUF", "gguf"},
      {"dir/Model.Onnx", "onnx"},
      {"a.b/archive.tar.GgUf", "gguf"},
      {"model.gguf/", "gguf"},
      {"model.gguf/.", "gguf"},
      {"..gguf", "gguf"},
      {"model.", ""},
      {"model", ""},
      {"dir.gguf/model", ""},
      {".gguf", ""},
      {"dir/.onnx", ""},
      {"..", ""},
      {"/", ""},
      {"", ""},
      {"model.bin", "bin"},
      {"model.\xff", ""},
      {"model.\xc3\x89T\xc3\x89", "\xc3\x89t\xc3\x89"},  // ASCII letters only
  };
  for (const auto& c : cases) EXPECT_EQ(model_file_extension(c.path), c.ext) << c.path;
}

TEST(InspectModel, RefusesOtherExtensionsWithoutOpening) {
  test::TempDir dir;
  struct Case {
    std::string path;
    std::string message;
  } cases[] = {
      {dir.file("model"), "unrecognised model file extension '.'; expected '.gguf' or '.onnx'"},
      {dir.file("model.BIN"),
       "unrecognised model file extension '.bin'; expected '.gguf' or '.onnx'"},
      {dir.file(".gguf"), "unrecognised model file extension '.'; expected '.gguf' or '.onnx'"},
  };
  for (const auto& c : cases) {
    // A real GGUF file: the content is never used to guess the format.
    test::GgufBuilder().write(c.path);
    EXPECT_EQ(error_of(inspect_model(c.path)), c.message);
  }
}

TEST(InspectModel, ReadsEitherFormatByExtension) {
  test::TempDir dir;
  std::string gguf = dir.file("model.GGUF");
  test::GgufBuilder()
      .kv_string("general.architecture", "llama")
      .kv_u64("general.parameter_count", 7000000000ull)
      .write(gguf);
  auto g = inspect_model(gguf);
  ASSERT_TRUE(g) << error_of(g);
  EXPECT_EQ(g->format, ModelFormat::Gguf);
  EXPECT_EQ(g->architecture, "llama");
  EXPECT_EQ(g->param_count, 7000000000ull);
  // Two bytes per parameter in 2^20-byte units: 13,351.44..., exactly.
  EXPECT_EQ(g->memory_footprint_mb, 13351.4404296875);
  EXPECT_EQ(g->flops_per_token, 14e9);

  using namespace test::onnx;
  auto onnx_bytes = model(test::Pb()
                              .msg(kGraphNode, node("MatMul"))
                              .msg(kGraphInitializer, tensor({4096, 4096}))
                              .msg(kGraphInitializer, tensor({4096})));
  std::string onnx = dir.write("model.Onnx", onnx_bytes.data());
  auto o = inspect_model(onnx);
  ASSERT_TRUE(o) << error_of(o);
  ModelIr want;
  want.format = ModelFormat::Onnx;
  want.param_count = 16781312;
  want.layer_count = 1;
  want.memory_footprint_mb = 16781312.0 * 2 / 1048576;
  want.flops_per_token = 16781312.0 * 2;
  EXPECT_EQ(*o, want);
}

TEST(InspectModel, PassesReaderErrorsOnUnchanged) {
  test::TempDir dir;
  std::string missing = dir.file("missing.gguf");
  EXPECT_EQ(error_of(inspect_model(missing)),
            "open GGUF file: " + missing + ": No such file or directory (os error 2)");
  std::string zip = dir.file("model.gguf");
  test::GgufBuilder().magic("PK\x03\x04").write(zip);
  EXPECT_EQ(error_of(inspect_model(zip)), "not a GGUF file (bad magic: [80, 75, 3, 4])");
  std::string text = dir.file("model.onnx");
  test::GgufBuilder().magic("GGUF").write(text);  // not a protobuf message
  EXPECT_TRUE(error_of(inspect_model(text)).starts_with("decode ONNX protobuf: "));
}

GgufMetadata shape(uint64_t layers, uint64_t width, uint64_t heads, uint64_t context) {
  GgufMetadata m;
  m.block_count = layers;
  m.embedding_length = width;
  m.head_count = heads;
  m.context_length = context;
  return m;
}

TEST(GgufDerivations, ParamCountComesFromTheKeyOrTheEstimate) {
  GgufMetadata m = shape(32, 4096, 32, 8192);
  EXPECT_EQ(model_ir_from_gguf(m).param_count, 1572864u);  // 12 x 32 x 4096, not squared
  m.parameter_count = 0;
  ModelIr zero = model_ir_from_gguf(m);
  EXPECT_EQ(zero.param_count, 0u);
  EXPECT_EQ(zero.memory_footprint_mb, 0.0);
  EXPECT_EQ(zero.flops_per_token, 0.0);

  GgufMetadata huge;
  huge.block_count = kMax / 4;
  huge.embedding_length = 2;
  EXPECT_EQ(model_ir_from_gguf(huge).param_count, kMax);
  huge.block_count = 1;
  huge.embedding_length = kMax / 8;  // 12 x (2^61 - 1) overflows on the second step
  EXPECT_EQ(model_ir_from_gguf(huge).param_count, kMax);

  GgufMetadata width_only;
  width_only.embedding_length = 4096;
  ModelIr none = model_ir_from_gguf(width_only);
  EXPECT_EQ(none.param_count, std::nullopt);
  EXPECT_EQ(none.memory_footprint_mb, std::nullopt);
  EXPECT_EQ(none.flops_per_token, std::nullopt);
}

TEST(GgufDerivations, KvCacheSize) {
  GgufMetadata m = shape(32, 4096, 32, 8192);
  m.head_count_kv = 8;
  EXPECT_EQ(model_ir_from_gguf(m).kv_cache_size_mb, 1024.0);

  m.head_count_kv.reset();
  ModelIr no_kv_key = model_ir_from_gguf(m);
  EXPECT_EQ(no_kv_key.kv_cache_size_mb, 4096.0);
  EXPECT_EQ(no_kv_key.attention_head_count_kv, std::nullopt);

  // E / H is a float division: 4000 / 3 heads.
  GgufMetadata odd = shape(2, 4000, 3, 10);
  EXPECT_EQ(model_ir_from_gguf(odd).kv_cache_size_mb,
            ((((4.0 * 3.0) * (4000.0 / 3.0)) * 10.0) * 2.0) / 1048576.0);

  GgufMetadata zero_heads = shape(32, 4096, 0, 8192);
  ModelIr z = model_ir_from_gguf(zero_heads);
  EXPECT_EQ(z.kv_cache_size_mb, std::nullopt);
  EXPECT_EQ(z.attention_head_count, 0u);

  for (auto drop : {&GgufMetadata::block_count, &GgufMetadata::embedding_length,
                    &GgufMetadata::head_count, &GgufMetadata::context_length}) {
    GgufMetadata partial = shape(32, 4096, 32, 8192);
    (partial.*drop).reset();
    EXPECT_EQ(model_ir_from_gguf(partial).kv_cache_size_mb, std::nullopt);
  }
}

TEST(GgufDerivations, NarrowFieldsKeepTheLow32Bits) {
  GgufMetadata m = shape((uint64_t{1} << 32) + 7, 4096, 32, (uint64_t{1} << 32) + 5);
  m.head_count_kv = (uint64_t{1} << 32) + 8;
  m.feed_forward_length = (uint64_t{1} << 40);
  m.architecture = "llama";
  ModelIr ir = model_ir_from_gguf(m);
  EXPECT_EQ(ir.context_length, 5u);
  EXPECT_EQ(ir.layer_count, 7u);
  EXPECT_EQ(ir.attention_head_count_kv, 8u);
  EXPECT_EQ(ir.feed_forward_length, uint64_t{1} << 40);
  EXPECT_EQ(ir.architecture, "llama");
  // The derivations use the full values.
  double l = static_cast<double>((uint64_t{1} << 32) + 7);
  double c = static_cast<double>((uint64_t{1} << 32) + 5);
  double k = static_cast<double>((uint64_t{1} << 32) + 8);
  EXPECT_EQ(ir.kv_cache_size_mb, (((((l + l) * k) * (4096.0 / 32.0)) * c) * 2.0) / 1048576.0);
}

TEST(OnnxDerivations, ZeroOrMissingMeansUnknown) {
  ModelIr empty;
  empty.format = ModelFormat::Onnx;
  EXPECT_EQ(model_ir_from_onnx(OnnxGraphSummary{}), empty);
  EXPECT_EQ(model_ir_from_onnx(OnnxGraphSummary{true, 0, 0}), empty);

  ModelIr nodes_only = model_ir_from_onnx(OnnxGraphSummary{true, 0, 1200});
  EXPECT_EQ(nodes_only.layer_count, 1200u);
  EXPECT_EQ(nodes_only.param_count, std::nullopt);
  EXPECT_EQ(nodes_only.memory_footprint_mb, std::nullopt);

  ModelIr wide = model_ir_from_onnx(OnnxGraphSummary{true, kMax, uint64_t{1} << 32});
  EXPECT_EQ(wide.param_count, kMax);
  EXPECT_EQ(wide.layer_count, 0u);  // present: the count was not zero
  EXPECT_EQ(wide.flops_per_token, 2.0 * 18446744073709551615.0);
  EXPECT_EQ(wide.architecture, std::nullopt);
  EXPECT_EQ(wide.kv_cache_size_mb, std::nullopt);
}

TEST(ModelFormatName, ParsesInAnyCase) {
  EXPECT_EQ(parse_model_format("GGUF"), ModelFormat::Gguf);
  EXPECT_EQ(parse_model_format("onnx"), ModelFormat::Onnx);
  auto bad = parse_model_format("GGUF2");
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().full_message(), "unknown model format 'gguf2'; expected 'onnx' or 'gguf'");
}

}  // namespace
}  // namespace bc
