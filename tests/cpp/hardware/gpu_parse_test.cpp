#include <gtest/gtest.h>

#include "hardware/gpu.hpp"

namespace bc {
namespace {

using Cap = std::pair<uint32_t, uint32_t>;

GpuInfo nvidia(std::string name, uint64_t vram, std::optional<Cap> cap) {
  return {std::move(name), vram, cap, GpuVendor::Nvidia};
}
GpuInfo amd(std::string name, uint64_t vram) {
  return {std::move(name), vram, std::nullopt, GpuVendor::Amd};
}

TEST(NvidiaSmi, FirstLine) {
  struct Case {
    std::string_view out;
    std::optional<GpuInfo> gpu;
  } cases[] = {
      {"NVIDIA GeForce RTX 4090, 24564, 8.9\n",
       nvidia("NVIDIA GeForce RTX 4090", 24564, Cap{8, 9})},
      {"  NVIDIA A100 ,81920,  8.0  \r\n", nvidia("NVIDIA A100", 81920, Cap{8, 0})},
      {"Tesla T4, 15360, 7.5\nNVIDIA A100, 81920, 8.0\n", nvidia("Tesla T4", 15360, Cap{7, 5})},
      {"X, 100, 8.9.1\n", nvidia("X", 100, std::nullopt)},
      {"X, 100, 89\n", nvidia("X", 100, std::nullopt)},
      {"X, 100, [N/A]\n", nvidia("X", 100, std::nullopt)},
      {"X, 100, \n", nvidia("X", 100, std::nullopt)},
      {"X, 100, 8 . 9\n", nvidia("X", 100, Cap{8, 9})},
      {"X, 100, 8.-9\n", nvidia("X", 100, std::nullopt)},
      {"X, 100, 4294967296.0\n", nvidia("X", 100, std::nullopt)},
      {"X, 100, 8.9, extra\n", nvidia("X", 100, std::nullopt)},
      {", 100, 8.9\n", nvidia("", 100, Cap{8, 9})},
      {"X, +100, 8.9", nvidia("X", 100, Cap{8, 9})},
      {"X, [N/A], 8.9\n", std::nullopt},
      {"X, 100 MiB, 8.9\n", std::nullopt},
      {"X, -1, 8.9\n", std::nullopt},
      {"X, 18446744073709551616, 8.9\n", std::nullopt},
      {"X, , 8.9\n", std::nullopt},
      {"X, 100\n", std::nullopt},
      {"X\n", std::nullopt},
      {"\nX, 100, 8.9\n", std::nullopt},
      {"", std::nullopt},
      {"\xff\xfe garbage", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_nvidia_smi(c.out), c.gpu) << c.out;
}

TEST(AmdCsv, RocmSmi) {
  struct Case {
    std::string_view out;
    std::optional<GpuInfo> gpu;
  } cases[] = {
      {"device,Card series,Card model,VRAM Total Memory (B)\n"
       "card0,Radeon RX 7900 XTX,0x744c,17163091968\n",
       amd("Radeon RX 7900 XTX", 16368)},
      {"\n  \ndevice,Card series,VRAM Total Memory (B)\n\n"
       "card0,AMD Instinct MI300X,17179869184\ncard1,Other,1\n",
       amd("AMD Instinct MI300X", 16384)},
      {"device,Card series,VRAM Total Memory (B)\r\ncard0, X ,1000000\r\n", amd("X", 1000000)},
      {"device,Card series,VRAM Total Memory (B)\ncard0,X,1000001\n", amd("X", 0)},
      {"device,Card series,VRAM Total Memory (B)\ncard0,X,+2048\n", amd("X", 2048)},
      // A comma inside a value shifts the following cells.
      {"device,Card vendor,Card series,VRAM Total Memory (B)\n"
       "card0,Advanced Micro Devices, Inc.,Radeon,17179869184\n",
       std::nullopt},
      {"device,Card series,Card SKU,VRAM Total Memory (B)\ncard0,Radeon, Pro,2048,17179869184\n",
       amd("Radeon", 2048)},
      {"device,Card series,VRAM Total Memory (B)\ncard0,,17179869184\n", std::nullopt},
      {"device,Card series,VRAM Total Memory (B)\ncard0,  ,17179869184\n", std::nullopt},
      {"device,Card series,VRAM Total Memory (B)\ncard0,X\n", std::nullopt},
      {"device,VRAM Total Memory (B),Card series\ncard0,17179869184\n", std::nullopt},
      {"device,Card series,VRAM Total Memory (B)\ncard0,X,N/A\n", std::nullopt},
      {"device,Card series,VRAM Total Memory (B)\ncard0,X,16 GB\n", std::nullopt},
      {"device,Card series,VRAM Total Memory (B)\n", std::nullopt},
      {"device,Card series\ncard0,X\n", std::nullopt},
      {"device,VRAM\ncard0,1\n", std::nullopt},
      {"", std::nullopt},
      {"ERROR: no GPU found\n", std::nullopt},
      // Header cells are matched in lower case, quotes and all.
      {"\"device\",\"NAME\",\"MEMORY\"\ncard0,X,512\n", amd("X", 512)},
      {"dev,\xc3\x89TAT NAME,VRAM\ncard0,X,1\n", amd("X", 1)},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_amd_csv(c.out, kRocmSmiKeywords), c.gpu) << c.out;
}

TEST(AmdCsv, AmdSmiKeywords) {
  struct Case {
    std::string_view out;
    std::optional<GpuInfo> gpu;
  } cases[] = {
      {"gpu,name,gfx_clk,mem_total\n0,AMD Radeon PRO W7900,2000,49136\n",
       amd("AMD Radeon PRO W7900", 49136)},
      {"gpu,name,memory_total\n0,X,51539607552\n", amd("X", 49152)},
      {"gpu,name,vram_used,vram_total\n0,X,100,200\n", amd("X", 100)},
      // "card" names a column for rocm-smi only.
      {"card,memory_total\nX,1\n", std::nullopt},
      {"gpu,name,memory\n0,X,1\n", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(parse_amd_csv(c.out, kAmdSmiKeywords), c.gpu) << c.out;
}

}  // namespace
}  // namespace bc
