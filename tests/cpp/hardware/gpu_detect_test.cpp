#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

#include "hardware/detect.hpp"
#include "hardware/fake_tools.hpp"
#include "hardware/gpu.hpp"

namespace bc {
namespace {

using namespace std::chrono_literals;
using testing::FakeToolDir;

// Tools that should answer get the production bound, so a loaded machine
// cannot turn a slow start into a failure; only the hang cases use a short
// bound, long enough for the one tool there that does answer.
constexpr auto kLimit = kGpuToolTimeLimit;
constexpr auto kShortLimit = 500ms;

const std::string kNvidiaArgs =
    "--query-gpu=name,memory.total,compute_cap --format=csv,noheader,nounits";
const std::string kRocmArgs = "--showproductname --showmeminfo vram --csv";
const std::string kAmdSmiArgs = "monitor --gpu --csv";
const std::string kRocmOut =
    "device,Card series,Card model,VRAM Total Memory (B)\ncard0,Radeon RX 7900 XTX,0x744c,"
    "25753026560\n";
const std::string kCatRocm = "/bin/cat \"${0%/*}/rocm.csv\"";
const std::string kAmdSmiOut = "gpu,name,mem_total\n0,AMD Instinct MI210,65520\n";

const GpuInfo kRtx4090{"NVIDIA GeForce RTX 4090", 24564, std::pair{8u, 9u}, GpuVendor::Nvidia};
const GpuInfo kRx7900{"Radeon RX 7900 XTX", 24560, std::nullopt, GpuVendor::Amd};
const GpuInfo kMi210{"AMD Instinct MI210", 65520, std::nullopt, GpuVendor::Amd};

TEST(GpuDetect, NvidiaWinsAndAmdToolsAreNotStarted) {
  FakeToolDir tools;
  tools.add_printing("nvidia-smi", "NVIDIA GeForce RTX 4090, 24564, 8.9\n\xff\n");
  tools.add_printing("rocm-smi", kRocmOut);
  tools.add_printing("amd-smi", kAmdSmiOut);
  EXPECT_EQ(detect_gpu(kLimit), kRtx4090);
  EXPECT_EQ(tools.calls(), "nvidia-smi " + kNvidiaArgs + "\n");
}

TEST(GpuDetect, FallsThroughToolByTool) {
  struct Case {
    const char* what;
    std::optional<std::string> nvidia_body, rocm_body;
    std::string expected_calls;
    std::optional<GpuInfo> gpu;
  } cases[] = {
      {"nvidia missing", std::nullopt, kCatRocm, "rocm-smi\n", kRx7900},
      {"nvidia exits 1 with a valid line", "echo 'X, 1, 8.9'; exit 1", kCatRocm,
       "nvidia-smi\nrocm-smi\n", kRx7900},
      {"nvidia [N/A] memory", "echo 'X, [N/A], 8.9'", kCatRocm, "nvidia-smi\nrocm-smi\n", kRx7900},
      {"nvidia killed by a signal", "kill -9 $$", kCatRocm, "nvidia-smi\nrocm-smi\n", kRx7900},
      {"rocm unparsable", std::nullopt, "echo 'no devices'", "rocm-smi\namd-smi\n", kMi210},
      {"rocm exits 2", std::nullopt, kCatRocm + "; exit 2", "rocm-smi\namd-smi\n", kMi210},
      {"rocm missing", std::nullopt, std::nullopt, "amd-smi\n", kMi210},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeToolDir tools;
    tools.write_data("rocm.csv", kRocmOut);
    if (c.nvidia_body) tools.add("nvidia-smi", *c.nvidia_body);
    if (c.rocm_body) tools.add("rocm-smi", *c.rocm_body);
    tools.add_printing("amd-smi", kAmdSmiOut);
    EXPECT_EQ(detect_gpu(kLimit), c.gpu);
    // Only the program names; arguments are checked below.
    std::string names;
    std::istringstream log(tools.calls());
    for (std::string line; std::getline(log, line);) names += line.substr(0, line.find(' ')) + "\n";
    EXPECT_EQ(names, c.expected_calls);
  }
}

TEST(GpuDetect, ToolArgumentsAndNoGpu) {
  FakeToolDir tools;
  tools.add("nvidia-smi", "echo 'NVIDIA-SMI has failed' >&2; exit 9");
  tools.add("rocm-smi", "exit 1");
  tools.add_printing("amd-smi", "gpu,name,mem_total\n0,,65520\n");
  EXPECT_EQ(detect_gpu(kLimit), std::nullopt);
  EXPECT_EQ(tools.calls(), "nvidia-smi " + kNvidiaArgs + "\nrocm-smi " + kRocmArgs + "\namd-smi " +
                               kAmdSmiArgs + "\n");
}

TEST(GpuDetect, HangingToolIsBoundedAndCountsAsFailed) {
  struct Case {
    const char* what;
    std::string body;
  } cases[] = {
      {"sleeps with its pipes open", "exec /usr/bin/sleep 1000"},
      {"closes its pipes, then sleeps", "exec >&- 2>&- </dev/null; exec /usr/bin/sleep 1000"},
      {"prints a valid line, then sleeps",
       "echo 'NVIDIA GeForce RTX 4090, 24564, 8.9'; exec /usr/bin/sleep 1000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    FakeToolDir tools;
    tools.add("nvidia-smi", c.body);
    tools.add("rocm-smi", "exec /usr/bin/sleep 1000");
    tools.add_printing("amd-smi", kAmdSmiOut);
    EXPECT_EQ(detect_gpu(kShortLimit), kMi210);
  }
}

TEST(GpuDetect, NoToolsNoGpuNothingPrinted) {
  FakeToolDir tools;
  tools.add("nvidia-smi", "echo 'noise on stderr' >&2; echo 'garbage'");
  ::testing::internal::CaptureStderr();
  ::testing::internal::CaptureStdout();
  std::optional<GpuInfo> gpu = detect_gpu(kLimit);
  HardwareProfile profile = detect_hardware();
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(gpu, std::nullopt);
  EXPECT_EQ(profile.gpu, std::nullopt);
  EXPECT_GE(profile.cpu.core_count, 1u);
  EXPECT_GT(profile.ram.total_mb, 0u);
}

}  // namespace
}  // namespace bc
