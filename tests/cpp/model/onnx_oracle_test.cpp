// The ONNX reader against files written by python3-onnx, checked against
// what that library itself reports about them.

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/json_forms.hpp"
#include "core/process.hpp"
#include "model/onnx_reader.hpp"
#include "model/temp_dir.hpp"

namespace bc {
namespace {

constexpr const char* kPython = "/usr/bin/python3";

std::string fixtures_script() {
  std::filesystem::path here(__FILE__);
  return (here.parent_path() / ".." / ".." / "python" / "onnx_fixtures.py").lexically_normal();
}

std::vector<uint8_t> slurp(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>()};
}

class OnnxOracle : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kPython, X_OK) != 0) GTEST_SKIP() << kPython << " is not installed";
    auto run = run_captured(kPython, {fixtures_script(), dir_.path()});
    ASSERT_TRUE(run) << run.error().full_message();
    if (run->err.find("No module named 'onnx'") != std::string::npos) {
      GTEST_SKIP() << "python3-onnx is not installed";
    }
    ASSERT_TRUE(run->success()) << run->err;
    auto parsed = parse_json_strict(run->out);
    ASSERT_TRUE(parsed) << parsed.error().full_message();
    expected_ = *parsed;
    ASSERT_GE(expected_.size(), 9u);
  }

  test::TempDir dir_;
  OrderedJson expected_;
};

TEST_F(OnnxOracle, TotalsAndNodeCountsMatchTheLibrary) {
  for (const auto& [name, want] : expected_.items()) {
    auto got = read_onnx(dir_.file(name));
    ASSERT_TRUE(got) << name << ": " << got.error().full_message();
    EXPECT_EQ(got->has_graph, want.at("has_graph").get<bool>()) << name;
    EXPECT_EQ(got->parameter_total, want.at("parameter_total").get<uint64_t>()) << name;
    EXPECT_EQ(got->graph_node_count, want.at("graph_node_count").get<uint64_t>()) << name;
  }
}

TEST_F(OnnxOracle, EveryTruncationOfARealFileGivesAnErrorOrAResult) {
  test::TempDir cuts;
  for (const char* name : {"attributes.onnx", "mlp.onnx"}) {
    std::vector<uint8_t> bytes = slurp(dir_.file(name));
    ASSERT_FALSE(bytes.empty()) << name;
    for (size_t n = 0; n < bytes.size(); ++n) {
      std::span<const uint8_t> prefix(bytes.data(), n);
      auto from_memory = read_onnx_bytes(prefix);
      auto from_file = read_onnx(cuts.write("cut.onnx", prefix));
      ASSERT_EQ(from_memory.has_value(), from_file.has_value()) << name << " at " << n;
      if (from_memory) {
        EXPECT_EQ(*from_memory, *from_file) << name << " at " << n;
      } else {
        EXPECT_EQ(from_memory.error().message(), "decode ONNX protobuf") << name << " at " << n;
        EXPECT_EQ(from_memory.error().full_message(), from_file.error().full_message());
      }
    }
  }
}

}  // namespace
}  // namespace bc
