#include "model/gguf_reader.hpp"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "model/alloc_probe.hpp"
#include "model/gguf_builder.hpp"
#include "model/temp_dir.hpp"

namespace bc {
namespace {

using test::GgufBuilder;
constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

Expected<GgufMetadata> parse(const GgufBuilder& b) { return read_gguf_bytes(b.bytes()); }
Expected<GgufMetadata> parse(const std::vector<uint8_t>& bytes) { return read_gguf_bytes(bytes); }

std::string error_of(const Expected<GgufMetadata>& r) {
  return r ? std::string("<no error>") : r.error().full_message();
}

std::vector<uint8_t> header(uint32_t version) {
  std::vector<uint8_t> b = {'G', 'G', 'U', 'F'};
  test::put_u32(b, version);
  return b;
}

// A little of everything a real file holds, under recognised and
// unrecognised keys.
GgufBuilder typical_model() {
  GgufBuilder b;
  b.kv_string("general.architecture", "llama")
      .kv_string("general.name", "tiny")
      .kv_u32("general.file_type", 15)
      .kv_u32("llama.block_count", 32)
      .kv_u32("llama.context_length", 8192)
      .kv_u32("llama.embedding_length", 4096)
      .kv_u32("llama.feed_forward_length", 14336)
      .kv_u32("llama.attention.head_count", 32)
      .kv_u32("llama.attention.head_count_kv", 8)
      .kv_f32("llama.rope.freq_base", 500000.0f)
      .kv_f32("llama.attention.layer_norm_rms_epsilon", 1e-5f)
      .kv_string("tokenizer.ggml.model", "gpt2")
      .kv_string_array("tokenizer.ggml.tokens", {"<s>", "</s>", "a", "", "\xc3\xa9t\xc3\xa9"});
  std::vector<uint8_t> scores;
  for (int i = 0; i < 5; ++i) test::put_f32(scores, -1.0f * i);
  b.kv_array("tokenizer.ggml.scores", test::kF32, 5, scores)
      .kv_bool("tokenizer.ggml.add_bos_token", true)
      .tensor_info("token_embd.weight", {4096, 128256}, 12, 0);
  return b;
}

GgufMetadata typical_metadata() {
  GgufMetadata m;
  m.architecture = "llama";
  m.block_count = 32;
  m.context_length = 8192;
  m.embedding_length = 4096;
  m.feed_forward_length = 14336;
  m.head_count = 32;
  m.head_count_kv = 8;
  return m;
}

TEST(GgufHeader, FailuresNameTheStep) {
  auto zip = std::vector<uint8_t>{80, 75, 3, 4, 20, 0, 0, 0, 8, 0};
  auto v0 = header(0);
  auto v4 = header(4);
  auto short_version = std::vector<uint8_t>{'G', 'G', 'U', 'F', 3, 0};
  auto short_tensor_count = header(3);
  test::put_u32(short_tensor_count, 7);
  auto short_kv_count = header(3);
  test::put_u64(short_kv_count, 7);
  short_kv_count.push_back(1);

  struct Case {
    std::vector<uint8_t> bytes;
    std::string message;
  } cases[] = {
      {{}, "read GGUF magic: failed to fill whole buffer"},
      {{'G', 'G', 'U'}, "read GGUF magic: failed to fill whole buffer"},
      {zip, "not a GGUF file (bad magic: [80, 75, 3, 4])"},
      {{'g', 'g', 'u', 'f', 3, 0, 0, 0}, "not a GGUF file (bad magic: [103, 103, 117, 102])"},
      {v0, "unsupported GGUF version 0; expected 1\u20133"},
      {v4, "unsupported GGUF version 4; expected 1\u20133"},
      {short_version, "read GGUF version: failed to fill whole buffer"},
      {short_tensor_count, "read tensor_count: failed to fill whole buffer"},
      {short_kv_count, "read kv_count: failed to fill whole buffer"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(error_of(parse(c.bytes)), c.message);
  }
}

TEST(GgufHeader, VersionsOneToThreeShareOneLayout) {
  for (uint32_t v : {1u, 2u, 3u}) {
    auto r = parse(GgufBuilder(v).kv_u32("llama.block_count", 12));
    ASSERT_TRUE(r) << error_of(r);
    EXPECT_EQ(r->block_count, 12u) << "version " << v;
  }
}

TEST(GgufMetadataRead, NoPairsMeansEverythingAbsent) {
  auto r = parse(GgufBuilder());
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(*r, GgufMetadata{});
}

TEST(GgufMetadataRead, ReadsATypicalModel) {
  auto r = parse(typical_model());
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(*r, typical_metadata());
}

TEST(GgufMetadataRead, IntegerCoercionOfEveryType) {
  struct Case {
    GgufBuilder file;
    uint64_t expected;
  } cases[] = {
      {GgufBuilder().kv_u8("general.parameter_count", 200), 200},
      {GgufBuilder().kv_i8("general.parameter_count", -1), 255},
      {GgufBuilder().kv_u16("general.parameter_count", 65535), 65535},
      {GgufBuilder().kv_i16("general.parameter_count", -1), kMax},
      {GgufBuilder().kv_i16("general.parameter_count", -2), kMax - 1},
      {GgufBuilder().kv_u32("general.parameter_count", 4000000000u), 4000000000u},
      {GgufBuilder().kv_i32("general.parameter_count", -1), kMax},
      {GgufBuilder().kv_u64("general.parameter_count", 7000000000ull), 7000000000ull},
      {GgufBuilder().kv_i64("general.parameter_count", -1), kMax},
      {GgufBuilder().kv_i64("general.parameter_count", 0), 0},
  };
  for (const auto& c : cases) {
    auto r = parse(c.file);
    ASSERT_TRUE(r) << error_of(r);
    EXPECT_EQ(r->parameter_count, c.expected);
  }
}

TEST(GgufMetadataRead, ParameterCountFailuresAreFatal) {
  std::vector<uint8_t> two_bytes;
  test::put_u16(two_bytes, 7);
  struct Case {
    GgufBuilder file;
    std::string message;
  } cases[] = {
      {GgufBuilder().kv_f64("general.parameter_count", 7e9),
       "read general.parameter_count (type=Float64): cannot coerce value type Float64 to u64"},
      {GgufBuilder().kv_f32("general.parameter_count", 7e9f),
       "read general.parameter_count (type=Float32): cannot coerce value type Float32 to u64"},
      {GgufBuilder().kv_bool("general.parameter_count", true),
       "read general.parameter_count (type=Bool): cannot coerce value type Bool to u64"},
      {GgufBuilder().kv_string("general.parameter_count", "7B"),
       "read general.parameter_count (type=String): cannot coerce value type String to u64"},
      {GgufBuilder().kv_string_array("general.parameter_count", {"7"}),
       "read general.parameter_count (type=Array): cannot coerce value type Array to u64"},
      {GgufBuilder().kv_raw("general.parameter_count", test::kU64, two_bytes),
       "read general.parameter_count (type=Uint64): read uint64 value: failed to fill whole "
       "buffer"},
      {GgufBuilder().kv_raw("general.parameter_count", test::kI32, two_bytes),
       "read general.parameter_count (type=Int32): read int32 value (reinterp): failed to fill "
       "whole buffer"},
  };
  for (const auto& c : cases) EXPECT_EQ(error_of(parse(c.file)), c.message);
}

TEST(GgufMetadataRead, UnreadableShapeValuesAreLeftAbsent) {
  auto r = parse(GgufBuilder()
                     .kv_f32("llama.context_length", 8192.0f)
                     .kv_string("llama.attention.head_count", "32")
                     .kv_string_array("llama.feed_forward_length", {"1", "2"})
                     .kv_u32("llama.block_count", 32));
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(r->context_length, std::nullopt);
  EXPECT_EQ(r->head_count, std::nullopt);
  EXPECT_EQ(r->feed_forward_length, std::nullopt);
  EXPECT_EQ(r->block_count, 32u);
}

TEST(GgufMetadataRead, ArchitectureRules) {
  auto number = parse(GgufBuilder().kv_u32("general.architecture", 5).kv_u32("x.block_count", 3));
  ASSERT_TRUE(number) << error_of(number);
  EXPECT_EQ(number->architecture, std::nullopt);
  EXPECT_EQ(number->block_count, 3u);

  // A later string replaces an earlier one; a later non-string keeps it.
  auto replaced = parse(GgufBuilder()
                            .kv_string("general.architecture", "llama")
                            .kv_string("general.architecture", "qwen2")
                            .kv_f32("general.architecture", 1.0f));
  ASSERT_TRUE(replaced) << error_of(replaced);
  EXPECT_EQ(replaced->architecture, "qwen2");

  auto lossy = parse(GgufBuilder().kv_string("general.architecture", "ll\xffma"));
  ASSERT_TRUE(lossy) << error_of(lossy);
  EXPECT_EQ(lossy->architecture, "ll\xEF\xBF\xBDma");

  std::vector<uint8_t> cut;
  test::put_u64(cut, 10);
  cut.push_back('l');
  EXPECT_EQ(error_of(parse(GgufBuilder().kv_raw("general.architecture", test::kString, cut))),
            "read general.architecture value: failed to fill whole buffer");
  EXPECT_EQ(error_of(parse(GgufBuilder().kv_array("general.architecture", 13, 1, {0}))),
            "skip general.architecture (unexpected type): unknown array element type 13");
}

TEST(GgufMetadataRead, WhichKeyWinsForEachTarget) {
  auto r = parse(GgufBuilder()
                     .kv_u32("a.block_count", 32)
                     .kv_u32("b.block_count", 40)
                     .kv_f32("clip.context_length", 1.0f)  // unreadable: not a winner
                     .kv_u64("llama.context_length", 4096)
                     .kv_u64("clip.context_length", 77)
                     .kv_u32("a.attention.head_count", 32)
                     .kv_u32("b.attention.head_count", 8)
                     .kv_u32("a.attention.head_count_kv", 8)
                     .kv_f32("b.attention.head_count_kv", 8.0f)  // replaces with absent
                     .kv_u64("a.feed_forward_length", 100)
                     .kv_u16("b.feed_forward_length", 200)
                     .kv_u32("embedding_length", 99)  // no '.': not a shape key
                     .kv_u32("general.embedding_length", 4096));
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(r->block_count, 32u);
  EXPECT_EQ(r->context_length, 4096u);
  EXPECT_EQ(r->head_count, 8u);
  EXPECT_EQ(r->head_count_kv, std::nullopt);
  EXPECT_EQ(r->feed_forward_length, 200u);
  EXPECT_EQ(r->embedding_length, 4096u);
}

TEST(GgufMetadataRead, AShortLenientValueAtTheEndIsDropped) {
  auto bytes = GgufBuilder().kv_u32("a.block_count", 1).kv_u64("b.attention.head_count", 9).bytes();
  bytes.resize(bytes.size() - 3);
  auto r = parse(bytes);
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(r->block_count, 1u);
  EXPECT_EQ(r->head_count, std::nullopt);

  // With a pair after it, the next read fails in its turn.
  auto more = GgufBuilder().kv_u64("b.attention.head_count", 9).kv_count(2).bytes();
  more.resize(more.size() - 3);
  EXPECT_EQ(error_of(parse(more)), "read KV key: failed to fill whole buffer");
}

TEST(GgufMetadataRead, UnknownTypeCodes) {
  EXPECT_EQ(error_of(parse(GgufBuilder().kv_raw("x.y", 13, {0}))),
            "unknown value type 13 for key 'x.y'");
  EXPECT_EQ(error_of(parse(GgufBuilder().kv_raw("general.architecture", 4000000000u, {}))),
            "unknown value type 4000000000 for key 'general.architecture'");
  EXPECT_EQ(error_of(parse(GgufBuilder().kv_array("x.y", 13, 2, {0, 0}))),
            "skip key 'x.y': unknown array element type 13");
}

TEST(GgufMetadataRead, SkipsEveryTypeIncludingNestedArrays) {
  using B = GgufBuilder;
  std::vector<uint8_t> strings;
  test::put_str(strings, "ab");
  test::put_str(strings, "");
  std::vector<uint8_t> nested;  // [[u16 x2], [strings x2], []]
  auto a = B::array_value(test::kU16, 2, {1, 0, 2, 0});
  auto s = B::array_value(test::kString, 2, strings);
  auto e = B::array_value(test::kF64, 0, {});
  for (const auto* part : {&a, &s, &e}) nested.insert(nested.end(), part->begin(), part->end());

  auto r = parse(B().kv_u8("x.u8", 1)
                     .kv_i8("x.i8", -1)
                     .kv_u16("x.u16", 1)
                     .kv_i16("x.i16", 1)
                     .kv_u32("x.u32", 1)
                     .kv_i32("x.i32", 1)
                     .kv_f32("x.f32", 1)
                     .kv_bool("x.bool", false)
                     .kv_string("x.string", "text")
                     .kv_u64("x.u64", 1)
                     .kv_i64("x.i64", 1)
                     .kv_f64("x.f64", 1)
                     .kv_array("x.u32s", test::kU32, 3, std::vector<uint8_t>(12, 7))
                     .kv_array("x.nested", test::kArray, 3, nested)
                     .kv_array("x.empty", test::kArray, 0, {})
                     .kv_u32("nodot", 3)
                     .kv_u32("x.block_count", 7));
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(r->block_count, 7u);
}

TEST(GgufBadInput, CorruptLengthsAndCountsFailAsShortReadsWithoutAllocating) {
  constexpr uint64_t kHuge = uint64_t{1} << 62;
  std::vector<uint8_t> huge_len;
  test::put_u64(huge_len, kHuge);
  huge_len.push_back('x');
  std::vector<uint8_t> huge_key = {'G', 'G', 'U', 'F', 3, 0, 0, 0};
  test::put_u64(huge_key, 0);
  test::put_u64(huge_key, 1);
  test::put_u64(huge_key, kHuge);

  struct Case {
    std::vector<uint8_t> bytes;
    std::string message;
  } cases[] = {
      {huge_key, "read KV key: failed to fill whole buffer"},
      {GgufBuilder().kv_raw("general.architecture", test::kString, huge_len).bytes(),
       "read general.architecture value: failed to fill whole buffer"},
      {GgufBuilder().kv_raw("x.y", test::kString, huge_len).bytes(),
       "skip key 'x.y': seek past string value: failed to fill whole buffer"},
      {GgufBuilder().kv_array("x.y", test::kU8, kHuge, {1, 2}).bytes(),
       "skip key 'x.y': skip array element: seek past scalar value: failed to fill whole buffer"},
      {GgufBuilder().kv_array("x.y", test::kF64, kMax, {1, 2}).bytes(),
       "skip key 'x.y': skip array element: seek past scalar value: failed to fill whole buffer"},
      {GgufBuilder().kv_array("x.y", test::kString, kHuge, {0, 0, 0, 0, 0, 0, 0, 0}).bytes(),
       "skip key 'x.y': skip array element: string length in skip: failed to fill whole buffer"},
      {GgufBuilder().kv_array("x.y", test::kString, 1, huge_len).bytes(),
       "skip key 'x.y': skip array element: seek past string value: failed to fill whole buffer"},
      {GgufBuilder().kv_array("x.y", test::kArray, kHuge, {}).bytes(),
       "skip key 'x.y': skip array element: array element type: failed to fill whole buffer"},
      {GgufBuilder().kv_u32("x.y", 1).kv_count(kMax).bytes(),
       "read KV key: failed to fill whole buffer"},
  };
  test::TempDir dir;
  for (const auto& c : cases) {
    test::AllocProbe probe;
    EXPECT_EQ(error_of(parse(c.bytes)), c.message);
    // The same through the buffered file reader.
    EXPECT_EQ(error_of(read_gguf(dir.write("bad.gguf", c.bytes))), c.message);
    EXPECT_LT(probe.largest(), size_t{1} << 20);
  }
}

// `depth` arrays, each the single element of the one around it.
std::vector<uint8_t> nested_arrays(int depth) {
  std::vector<uint8_t> v;
  for (int i = 1; i < depth; ++i) {
    test::put_u32(v, test::kArray);
    test::put_u64(v, 1);
  }
  test::put_u32(v, test::kU8);
  test::put_u64(v, 0);
  return v;
}

TEST(GgufBadInput, DeepNestingIsRefusedNotRecursedInto) {
  auto ok = parse(GgufBuilder().kv_raw("x.y", test::kArray, nested_arrays(kGgufMaxArrayDepth)));
  EXPECT_TRUE(ok) << error_of(ok);

  auto deep = parse(GgufBuilder().kv_raw("x.y", test::kArray, nested_arrays(200000)));
  ASSERT_FALSE(deep);
  std::string message = deep.error().full_message();
  EXPECT_TRUE(message.starts_with("skip key 'x.y': skip array element: ")) << message;
  EXPECT_TRUE(message.ends_with(": GGUF arrays nested deeper than 64 levels")) << message;
}

TEST(GgufBadInput, EveryTruncationGivesAnErrorOrAResult) {
  auto bytes = typical_model().bytes();
  test::TempDir dir;
  for (size_t n = 0; n < bytes.size(); ++n) {
    std::span<const uint8_t> prefix(bytes.data(), n);
    auto from_memory = read_gguf_bytes(prefix);
    auto from_file = read_gguf(dir.write("cut.gguf", prefix));
    ASSERT_EQ(from_memory.has_value(), from_file.has_value()) << "at " << n;
    if (from_memory) {
      EXPECT_EQ(*from_memory, *from_file) << "at " << n;
    } else {
      EXPECT_EQ(from_memory.error().full_message(), from_file.error().full_message());
    }
  }
  auto whole = read_gguf_bytes(bytes);
  ASSERT_TRUE(whole) << error_of(whole);
  EXPECT_EQ(*whole, typical_metadata());
}

TEST(GgufFile, StringsAcrossTheReadBufferMatchTheInMemoryRead) {
  std::vector<std::string> tokens;
  for (int i = 0; i < 4000; ++i) tokens.push_back(std::string(static_cast<size_t>(i % 37), 'a'));
  auto b = typical_model()
               .kv_string_array("tokenizer.ggml.merges", tokens)
               .kv_string("general.architecture", std::string(9000, 'q'))
               .kv_u64("general.parameter_count", 123);
  test::TempDir dir;
  auto path = dir.write("big.gguf", b.bytes());
  auto from_file = read_gguf(path);
  ASSERT_TRUE(from_file) << error_of(from_file);
  EXPECT_EQ(*from_file, *read_gguf_bytes(b.bytes()));
  EXPECT_EQ(from_file->architecture->size(), 9000u);
  EXPECT_EQ(from_file->parameter_count, 123u);
}

// Feeds `bytes` through a named pipe, which can be neither mapped nor
// seeked, so the reader must take its buffered path.
Expected<GgufMetadata> read_through_pipe(const test::TempDir& dir,
                                         const std::vector<uint8_t>& bytes) {
  std::string path = dir.file("pipe.gguf");
  ::unlink(path.c_str());
  EXPECT_EQ(::mkfifo(path.c_str(), 0600), 0);
  auto old = std::signal(SIGPIPE, SIG_IGN);  // the reader may stop early
  std::thread writer([&] {
    int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    for (size_t done = 0; fd >= 0 && done < bytes.size();) {
      ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
    if (fd >= 0) ::close(fd);
  });
  auto r = read_gguf(path);
  writer.join();
  std::signal(SIGPIPE, old);
  return r;
}

TEST(GgufFile, PipesAndDevicesGoThroughTheReadBuffer) {
  test::TempDir dir;
  std::vector<std::string> tokens;
  for (int i = 0; i < 4000; ++i) tokens.push_back(std::string(static_cast<size_t>(i % 37), 'a'));
  auto b = typical_model()
               .kv_string_array("tokenizer.ggml.merges", tokens)
               .kv_array("tokenizer.ggml.scores", test::kF32, 50000, std::vector<uint8_t>(200000))
               .kv_u64("general.parameter_count", 123);
  auto piped = read_through_pipe(dir, b.bytes());
  ASSERT_TRUE(piped) << error_of(piped);
  EXPECT_EQ(*piped, *read_gguf_bytes(b.bytes()));

  std::vector<uint8_t> huge_len;
  test::put_u64(huge_len, uint64_t{1} << 62);
  EXPECT_EQ(
      error_of(read_through_pipe(dir, GgufBuilder()
                                          .kv_raw("x.y", test::kString, huge_len)
                                          .kv_array("x.z", test::kString, uint64_t{1} << 62, {})
                                          .bytes())),
      "skip key 'x.y': seek past string value: failed to fill whole buffer");
  EXPECT_EQ(error_of(read_through_pipe(dir, GgufBuilder()
                                                .kv_array("x.z", test::kString, uint64_t{1} << 62,
                                                          std::vector<uint8_t>(9000))
                                                .bytes())),
            "skip key 'x.z': skip array element: string length in skip: failed to fill whole "
            "buffer");

  EXPECT_EQ(error_of(read_gguf("/dev/zero")), "not a GGUF file (bad magic: [0, 0, 0, 0])");
}

TEST(GgufFile, OpenFailuresNameThePath) {
  test::TempDir dir;
  std::string missing = dir.file("missing.gguf");
  EXPECT_EQ(error_of(read_gguf(missing)),
            "open GGUF file: " + missing + ": No such file or directory (os error 2)");
  EXPECT_EQ(error_of(read_gguf(dir.path())), "read GGUF magic: Is a directory (os error 21)");
}

}  // namespace
}  // namespace bc
