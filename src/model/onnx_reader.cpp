#include "model/onnx_reader.hpp"

#include "model/mapped_file.hpp"
#include "model/onnx_schema.hpp"
#include "model/protobuf_decoder.hpp"

namespace bc {
namespace {

uint64_t saturating_mul(uint64_t a, uint64_t b) {
  uint64_t out = 0;
  return __builtin_mul_overflow(a, b, &out) ? UINT64_MAX : out;
}

uint64_t saturating_add(uint64_t a, uint64_t b) {
  uint64_t out = 0;
  return __builtin_add_overflow(a, b, &out) ? UINT64_MAX : out;
}

// Collects the main graph's node count and initializer sizes. Subgraphs
// inside attributes get context 0 and so are never seen here.
class SummaryVisitor : public proto::Visitor {
 public:
  enum Context { kOther = 0, kModel, kMainGraph, kMainInitializer };

  explicit SummaryVisitor(MappedFile* file) : file_(file) {
    // Pages are handed back in steps of this size, which bounds what the
    // decode keeps resident whatever the size of the file.
    if (file_ != nullptr) progress_step = size_t{32} << 20;
  }

  int enter_message(int context, const proto::Field& field) override {
    if (context == kModel && field.number == onnx_schema::kModelGraph) {
      // A repeated `graph` field merges into one graph, as the stock parser does.
      summary.has_graph = true;
      return kMainGraph;
    }
    if (context == kMainGraph && field.number == onnx_schema::kGraphNode) {
      ++summary.graph_node_count;
      return kOther;
    }
    if (context == kMainGraph && field.number == onnx_schema::kGraphInitializer) {
      product_ = 1;
      return kMainInitializer;
    }
    return kOther;
  }

  void leave_message(int context) override {
    if (context == kMainInitializer) {
      summary.parameter_total = saturating_add(summary.parameter_total, product_);
    }
  }

  // A negative dim arrives as its two's-complement pattern, i.e. very large.
  void integer(int context, const proto::Field& field, uint64_t value) override {
    if (context == kMainInitializer && field.number == onnx_schema::kTensorDims) {
      product_ = saturating_mul(product_, value);
    }
  }

  void progress(const uint8_t* upto) override { file_->release_before(upto); }

  OnnxGraphSummary summary;

 private:
  MappedFile* file_;
  uint64_t product_ = 1;
};

Expected<OnnxGraphSummary> decode_model(std::span<const uint8_t> bytes, MappedFile* file) {
  SummaryVisitor visitor(file);
  if (auto s = proto::decode(bytes, onnx_schema::kModelProto, visitor, SummaryVisitor::kModel);
      !s) {
    return fail_with(s.error(), "decode ONNX protobuf");
  }
  return visitor.summary;
}

}  // namespace

Expected<OnnxGraphSummary> read_onnx_bytes(std::span<const uint8_t> bytes) {
  return decode_model(bytes, nullptr);
}

Expected<OnnxGraphSummary> read_onnx(const std::string& path) {
  auto file = MappedFile::open(path);
  if (!file) return fail_with(file.error(), "read ONNX file: " + path);
  return decode_model(file->bytes(), &*file);
}

}  // namespace bc
