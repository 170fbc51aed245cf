#include "model/onnx_reader.hpp"

#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "model/proto_builder.hpp"
#include "model/temp_dir.hpp"

namespace bc {
namespace {

using test::Pb;
using namespace test::onnx;
constexpr uint64_t kMax = std::numeric_limits<uint64_t>::max();

std::string error_of(const Expected<OnnxGraphSummary>& r) {
  return r ? std::string("<no error>") : r.error().full_message();
}

OnnxGraphSummary graph_summary(uint64_t total, uint64_t nodes) { return {true, total, nodes}; }

// A model using most of the schema: opsets, metadata, typed inputs, nodes
// with attributes (one holding a subgraph), several kinds of initializer.
Pb rich_model() {
  Pb shape = Pb().msg(1, Pb().varint(1, 1)).msg(1, Pb().str(2, "seq"));
  Pb input_type = Pb().msg(1, Pb().varint(1, 1).msg(2, shape));
  Pb subgraph = Pb().msg(kGraphNode, node("Relu")).msg(kGraphInitializer, tensor({100}));
  Pb attrs = Pb().str(kAttrName, "alpha").fixed32(kAttrF, 0x3f800000).varint(kAttrType, 1);
  Pb graph = Pb().msg(kGraphNode, node("MatMul").msg(kNodeAttribute, attrs))
                 .msg(kGraphNode,
                      node("If").msg(
                          kNodeAttribute,
                          Pb().str(kAttrName, "then").msg(kAttrG, subgraph).varint(kAttrType, 5)))
                 .str(kGraphName, "main \xe6\xa8\xa1\xe5\x9e\x8b")
                 .msg(kGraphInitializer, tensor({4, 8}).str(kTensorRawData, std::string(128, 'x')))
                 .msg(kGraphInitializer, tensor({3}, false)
                                             .fixed32(kTensorFloatData, 0)
                                             .fixed32(kTensorFloatData, 0)
                                             .fixed32(kTensorFloatData, 0))
                 .msg(kGraphInitializer, tensor({2}).packed(kTensorInt64Data, {1, 2}))
                 .msg(kGraphInput, Pb().str(1, "x").msg(2, input_type));
  return Pb()
      .varint(kModelIrVersion, 8)
      .msg(kModelOpset, Pb().str(1, "").varint(2, 17))
      .str(2, "producer")
      .msg(kModelGraph, graph)
      .msg(kModelMetadata, Pb().str(1, "k").str(2, "v"));
}

TEST(OnnxRead, CountsTheMainGraph) {
  auto r = read_onnx_bytes(test::onnx::model(Pb().msg(kGraphNode, node("MatMul"))
                                                 .msg(kGraphNode, node("Add"))
                                                 .msg(kGraphNode, node("Relu"))
                                                 .msg(kGraphInitializer, tensor({4096, 4096}))
                                                 .msg(kGraphInitializer, tensor({4096}))));
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(*r, graph_summary(16781312, 3));

  auto rich = read_onnx_bytes(rich_model());
  ASSERT_TRUE(rich) << error_of(rich);
  // 32 + 3 + 2; the subgraph's node and initializer do not count.
  EXPECT_EQ(*rich, graph_summary(37, 2));
}

TEST(OnnxRead, InitializerSizesSaturate) {
  const uint64_t big = uint64_t{1} << 40;
  struct Case {
    std::vector<std::vector<uint64_t>> shapes;
    uint64_t total;
  } cases[] = {
      {{{}}, 1},  // a scalar
      {{{}, {}, {5}}, 7},
      {{{0, 4096}}, 0},
      {{{big, big}}, kMax},   // the product overflows
      {{{big, big, 0}}, 0},   // saturation first, then zero
      {{{kMax}, {2}}, kMax},  // the sum overflows
      {{{kMax - 1}, {1}}, kMax},
      {{{static_cast<uint64_t>(-1)}}, kMax},  // a negative dim reads as 2^64 - 1
      {{{static_cast<uint64_t>(-2), 1}}, kMax - 1},
  };
  for (bool packed : {true, false}) {
    for (const auto& c : cases) {
      Pb graph;
      for (const auto& dims : c.shapes) graph.msg(kGraphInitializer, tensor(dims, packed));
      auto r = read_onnx_bytes(test::onnx::model(graph));
      ASSERT_TRUE(r) << error_of(r);
      EXPECT_EQ(r->parameter_total, c.total) << (packed ? "packed" : "unpacked");
    }
  }
}

TEST(OnnxRead, WhatCountsAsAGraph) {
  auto none = read_onnx_bytes(Pb().varint(kModelIrVersion, 8).str(2, "p"));
  ASSERT_TRUE(none) << error_of(none);
  EXPECT_EQ(*none, OnnxGraphSummary{});

  auto empty_file = read_onnx_bytes({});
  ASSERT_TRUE(empty_file) << error_of(empty_file);
  EXPECT_FALSE(empty_file->has_graph);

  auto empty_graph = read_onnx_bytes(test::onnx::model(Pb()));
  ASSERT_TRUE(empty_graph) << error_of(empty_graph);
  EXPECT_EQ(*empty_graph, graph_summary(0, 0));

  auto sparse_only = read_onnx_bytes(test::onnx::model(Pb().msg(
      kGraphSparseInitializer, Pb().msg(1, tensor({3})).msg(2, tensor({3})).packed(3, {10, 10}))));
  ASSERT_TRUE(sparse_only) << error_of(sparse_only);
  EXPECT_EQ(*sparse_only, graph_summary(0, 0));

  // A repeated graph field merges into one graph.
  auto merged = read_onnx_bytes(
      Pb().msg(kModelGraph, Pb().msg(kGraphNode, node("A")).msg(kGraphInitializer, tensor({2})))
          .msg(kModelGraph, Pb().msg(kGraphNode, node("B")).msg(kGraphInitializer, tensor({3}))));
  ASSERT_TRUE(merged) << error_of(merged);
  EXPECT_EQ(*merged, graph_summary(5, 2));
}

TEST(OnnxRead, OnlyTheMainGraphCounts) {
  Pb side = Pb().msg(kGraphNode, node("X")).msg(kGraphInitializer, tensor({1000}));
  auto r = read_onnx_bytes(
      test::onnx::model(
          Pb().msg(kGraphNode, node("A"))
              .msg(kGraphInitializer,
                   tensor({6})
                       .msg(kTensorExternalData, Pb().str(1, "location").str(2, "w.bin"))
                       .varint(kTensorDataLocation, 1)))
          .msg(kModelTraining, Pb().msg(1, side).msg(2, side))
          .msg(kModelFunctions, Pb().str(1, "f").msg(7, node("Y")).msg(7, node("Z"))));
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(*r, graph_summary(6, 1));
}

TEST(OnnxRead, UnknownFieldsOfEveryWireTypeAreSkipped) {
  Pb unknown = Pb().varint(99, 12345678901234ull)
                   .fixed64(98, 1)
                   .fixed32(97, 1)
                   .str(96, "\xff\xfe not text")
                   .tag(95, Pb::kStart)
                   .varint(1, 1)
                   .tag(94, Pb::kStart)
                   .str(2, "x")
                   .tag(94, Pb::kEnd)
                   .tag(95, Pb::kEnd);
  Pb t = Pb().raw(unknown.data()).raw(tensor({7}).data());
  Pb graph = Pb().raw(unknown.data()).varint(3, 1).msg(kGraphInitializer, t);
  auto r = read_onnx_bytes(Pb().raw(unknown.data()).msg(kModelGraph, graph));
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(*r, graph_summary(7, 0));
}

TEST(OnnxRead, BytesFieldsNeedNotBeText) {
  Pb attr = Pb().str(kAttrName, "a").str(kAttrS, "\xff\x00\xc0").str(9, "\xed\xa0\x80");
  Pb t = tensor({1}).str(kTensorRawData, "\xff\xff").str(6, "\x80");
  auto r = read_onnx_bytes(test::onnx::model(
      Pb().msg(kGraphNode, node("A").msg(kNodeAttribute, attr)).msg(kGraphInitializer, t)));
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(*r, graph_summary(1, 1));
}

// A model whose innermost message is `depth` levels below the ModelProto:
// graph, value info, then alternating TypeProto and TypeProto.Sequence.
Pb nested_model(int depth) {
  Pb inner;
  for (int level = depth; level >= 1; --level) {
    uint32_t field = level == 1 ? 7 : level == 2 ? 11 : level == 3 ? 2 : level % 2 == 0 ? 4 : 1;
    inner = Pb().msg(field, inner);
  }
  return inner;
}

TEST(OnnxRead, RecursionLimitIsOneHundredMessages) {
  auto at_limit = read_onnx_bytes(nested_model(100));
  EXPECT_TRUE(at_limit) << error_of(at_limit);
  auto over = read_onnx_bytes(nested_model(101));
  ASSERT_FALSE(over);
  EXPECT_TRUE(over.error().full_message().starts_with(
      "decode ONNX protobuf: messages nested deeper than the recursion limit of 100"))
      << over.error().full_message();

  auto groups = [](int depth) {
    Pb p;
    for (int i = 0; i < depth; ++i) p.tag(50, Pb::kStart);
    for (int i = 0; i < depth; ++i) p.tag(50, Pb::kEnd);
    return p;
  };
  EXPECT_TRUE(read_onnx_bytes(groups(100)));
  EXPECT_FALSE(read_onnx_bytes(groups(101)));
}

TEST(OnnxRead, MalformedInputFailsToDecode) {
  std::vector<uint8_t> eleven(11, 0x80);
  eleven.back() = 0x01;
  std::vector<uint8_t> past_64_bits(10, 0xff);
  past_64_bits.back() = 0x02;
  Pb bad_tensor_dims = test::onnx::model(Pb().msg(kGraphInitializer, Pb().fixed32(kTensorDims, 4)));
  struct Case {
    const char* name;
    Pb bytes;
    std::string cause;
  } cases[] = {
      {"length past the end", Pb().tag(kModelGraph, Pb::kLen).raw({10, 1, 2}),
       "truncated message at byte 2"},
      {"nested length past its parent", test::onnx::model(Pb().raw({0x0a, 0x05, 0x22, 0x09, 'a'})),
       "truncated message at byte 6"},
      {"varint cut short", Pb().raw({0x08, 0x80}), "truncated message at byte 1"},
      {"fixed cut short", Pb().raw({0x7d, 1, 2}), "truncated message at byte 1"},
      {"varint over ten bytes", Pb().tag(kModelIrVersion, Pb::kVarint).raw(eleven),
       "malformed varint at byte 1"},
      {"varint beyond 64 bits", Pb().tag(kModelIrVersion, Pb::kVarint).raw(past_64_bits),
       "malformed varint at byte 1"},
      {"string as varint", Pb().varint(2, 5),
       "wrong wire type 0 for field ModelProto.producer_name (2) at byte 0"},
      {"int64 as length", Pb().str(kModelIrVersion, "8"),
       "wrong wire type 2 for field ModelProto.ir_version (1) at byte 0"},
      {"message as varint", Pb().varint(kModelGraph, 1),
       "wrong wire type 0 for field ModelProto.graph (7) at byte 0"},
      {"repeated int64 as fixed32", bad_tensor_dims,
       "wrong wire type 5 for field TensorProto.dims (1) at byte 6"},
      {"singular int32 packed",
       test::onnx::model(Pb().msg(kGraphInitializer, Pb().packed(kTensorDataType, {1}))),
       "wrong wire type 2 for field TensorProto.data_type (2) at byte 6"},
      {"float as fixed64",
       test::onnx::model(Pb().msg(kGraphNode, Pb().msg(kNodeAttribute, Pb().fixed64(kAttrF, 0)))),
       "wrong wire type 1 for field AttributeProto.f (2) at byte 8"},
      {"known field as group", Pb().tag(kModelGraph, Pb::kStart).tag(kModelGraph, Pb::kEnd),
       "wrong wire type 3 for field ModelProto.graph (7) at byte 0"},
      {"invalid UTF-8", test::onnx::model(Pb().msg(kGraphNode, node("Mat\xffMul"))),
       "invalid UTF-8 in string field NodeProto.op_type at byte 12"},
      {"UTF-16 surrogate", Pb().msg(kModelMetadata, Pb().str(1, "k").str(2, "\xed\xa0\x80")),
       "invalid UTF-8 in string field StringStringEntryProto.value at byte 5"},
      {"overlong encoding", Pb().str(2, "\xc0\xaf"),
       "invalid UTF-8 in string field ModelProto.producer_name at byte 0"},
      {"field number zero", Pb().raw({0x00, 0x01}), "invalid tag 0 at byte 0"},
      {"tag over 32 bits", Pb().varint(1, 1).raw({0x80, 0x80, 0x80, 0x80, 0x80, 0x01}),
       "invalid tag 34359738368 at byte 2"},
      {"wire type 7", Pb().raw({0x0f}), "invalid wire type 7 at byte 0"},
      {"stray end-group", Pb().tag(50, Pb::kEnd), "unexpected end-group tag at byte 0"},
      {"unterminated group", Pb().tag(50, Pb::kStart).varint(1, 1), "truncated message at byte 4"},
      {"mismatched end-group", Pb().tag(50, Pb::kStart).tag(51, Pb::kEnd),
       "mismatched end-group tag at byte 2"},
      {"packed floats not whole",
       test::onnx::model(
           Pb().msg(kGraphInitializer, Pb().bytes(kTensorFloatData, std::vector<uint8_t>(5, 0)))),
       "malformed packed field TensorProto.float_data at byte 6"},
      {"packed varint cut short",
       test::onnx::model(
           Pb().msg(kGraphInitializer, Pb().bytes(kTensorDims, std::vector<uint8_t>{1, 0x80}))),
       "malformed packed field TensorProto.dims at byte 6"},
  };
  for (const auto& c : cases) {
    auto r = read_onnx_bytes(c.bytes);
    ASSERT_FALSE(r) << c.name;
    EXPECT_EQ(r.error().message(), "decode ONNX protobuf") << c.name;
    EXPECT_EQ(error_of(r), "decode ONNX protobuf: " + c.cause) << c.name;
  }
  std::string text = "This is not a model.\n";
  EXPECT_FALSE(read_onnx_bytes({reinterpret_cast<const uint8_t*>(text.data()), text.size()}));
}

TEST(OnnxRead, EveryTruncationGivesAnErrorOrAResult) {
  Pb model = rich_model();
  const auto& bytes = model.data();
  size_t results = 0;
  for (size_t n = 0; n < bytes.size(); ++n) {
    auto r = read_onnx_bytes({bytes.data(), n});
    if (r) {
      ++results;
    } else {
      EXPECT_EQ(r.error().message(), "decode ONNX protobuf");
    }
  }
  // Cuts at field boundaries of the outermost message still decode.
  EXPECT_GT(results, 0u);
  EXPECT_TRUE(read_onnx_bytes(bytes));
}

TEST(OnnxFile, ReadsFromDiskLikeFromMemory) {
  test::TempDir dir;
  Pb model = rich_model();
  auto r = read_onnx(dir.write("m.onnx", model.data()));
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(*r, *read_onnx_bytes(model));

  auto empty = read_onnx(dir.write("empty.onnx", {}));
  ASSERT_TRUE(empty) << error_of(empty);
  EXPECT_FALSE(empty->has_graph);

  std::string missing = dir.file("missing.onnx");
  EXPECT_EQ(error_of(read_onnx(missing)),
            "read ONNX file: " + missing + ": No such file or directory (os error 2)");
  EXPECT_EQ(error_of(read_onnx(dir.path())),
            "read ONNX file: " + dir.path() + ": Is a directory (os error 21)");

  auto bad = read_onnx(dir.write("bad.onnx", Pb().varint(2, 1).data()));
  EXPECT_EQ(error_of(bad),
            "decode ONNX protobuf: wrong wire type 0 for field ModelProto.producer_name (2) at "
            "byte 0");
}

TEST(OnnxFile, LargeDecodedPayloadsAreReadInFull) {
  // 48 MiB of packed int64 data is decoded (not skipped), which takes the
  // reader past its page-release step; the initializers after it must count.
  std::vector<uint64_t> values(6 << 20, uint64_t{1} << 49);  // 8 bytes each
  Pb graph = Pb().msg(kGraphInitializer, tensor({6u << 20}).packed(kTensorInt64Data, values))
                 .msg(kGraphInitializer, tensor({2, 3}))
                 .msg(kGraphNode, node("Add"));
  test::TempDir dir;
  auto r = read_onnx(dir.write("big.onnx", test::onnx::model(graph).data()));
  ASSERT_TRUE(r) << error_of(r);
  EXPECT_EQ(*r, graph_summary((6u << 20) + 6, 1));
}

}  // namespace
}  // namespace bc
