#include "optimizer/cache.hpp"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/time.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

#include "core/json_forms.hpp"

namespace bc {
namespace {

namespace fs = std::filesystem;

class CacheTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("bc-cache-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(root_);
    if (const char* h = std::getenv("HOME")) old_home_ = h;
    ::setenv("HOME", root_.c_str(), 1);
    model_.model_path = (root_ / "m.gguf").string();
    write_model(42, 1'700'000'000);
  }
  void TearDown() override {
    if (old_home_) ::setenv("HOME", old_home_->c_str(), 1);
    fs::remove_all(root_);
  }
  void write_model(size_t size, long mtime) {
    std::ofstream(model_.model_path, std::ios::binary) << std::string(size, 'x');
    timeval times[2] = {{mtime, 0}, {mtime, 0}};
    ::utimes(model_.model_path.c_str(), times);
  }

  fs::path root_;
  std::optional<std::string> old_home_;
  ModelProfile model_;
  HardwareProfile hw_{{4, "cpu", SimdLevel::AVX2}, std::nullopt, {16000, 8000}};
  OptimizationResult result_{{RuntimeKind::LlamaCpp, QuantizationStrategy::Q4_K_M, 4, 1, 0},
                             {19.2, 52.1, 4361}};
};

TEST_F(CacheTest, KeyTextAndDigest) {
  EXPECT_EQ(*cache_key_text(hw_, model_.model_path), "1700000000_42_" + to_json_compact(hw_));
  auto key = cache_key(hw_, model_.model_path);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->size(), 64u);
  EXPECT_EQ(key->find_first_not_of("0123456789abcdef"), std::string::npos);
  EXPECT_FALSE(cache_key(hw_, (root_ / "missing.gguf").string()));
}

TEST_F(CacheTest, KeyFollowsFileAndHardwareNotPath) {
  auto key = *cache_key(hw_, model_.model_path);
  auto moved = (root_ / "renamed.gguf").string();
  fs::rename(model_.model_path, moved);
  EXPECT_EQ(*cache_key(hw_, moved), key);
  fs::rename(moved, model_.model_path);

  HardwareProfile less_ram = hw_;
  less_ram.ram.available_mb -= 1;
  EXPECT_NE(*cache_key(less_ram, model_.model_path), key);
  write_model(42, 1'700'000'001);
  EXPECT_NE(*cache_key(hw_, model_.model_path), key);
  write_model(0, 1'700'000'000);
  EXPECT_TRUE(cache_key(hw_, model_.model_path));
}

TEST_F(CacheTest, StoreThenLookup) {
  EXPECT_FALSE(lookup_cached_result(hw_, model_));
  ASSERT_TRUE(store_cached_result(hw_, model_, result_));
  auto hit = lookup_cached_result(hw_, model_);
  ASSERT_TRUE(hit);
  EXPECT_EQ(*hit, result_);

  auto path = *cache_file_path(*cache_key(hw_, model_.model_path));
  EXPECT_EQ(fs::path(path).parent_path(), root_ / ".quarlent" / "cache");
  std::ifstream in(path);
  std::string text((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(text.rfind("{\"result\":{\"config\":{\"runtime\":\"LlamaCpp\"", 0), 0u);
  EXPECT_NE(text.find("\"model_path\":\"" + model_.model_path + "\",\"created_at\":"),
            std::string::npos);
  EXPECT_NE(text.back(), '\n');
  // An ordinary file of the user: 0666 less the umask, and the umask intact.
  const mode_t old_mask = ::umask(027);
  ASSERT_TRUE(store_cached_result(hw_, model_, result_));
  struct stat st {};
  ASSERT_EQ(::stat(path.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(::umask(old_mask), 027u);
  // No temporary file is left beside the entry.
  EXPECT_EQ(std::distance(fs::directory_iterator(fs::path(path).parent_path()), {}), 1);
}

TEST_F(CacheTest, DamagedEntriesAreMisses) {
  ASSERT_TRUE(store_cached_result(hw_, model_, result_));
  auto path = *cache_file_path(*cache_key(hw_, model_.model_path));
  std::ifstream in(path);
  const std::string good((std::istreambuf_iterator<char>(in)), {});
  auto replace = [&](const std::string& from, const std::string& to) {
    std::string s = good;
    s.replace(s.find(from), from.size(), to);
    return s;
  };
  const std::string created = good.substr(good.find(",\"created_at\""));
  const std::string cases[] = {
      replace("\"LlamaCpp\"", "\"llamacpp\""),
      replace(created, "}"),
      good + "x",
      good.substr(0, good.size() / 2),
      "\xff\xfe",
      "",
  };
  for (const auto& text : cases) {
    std::ofstream(path, std::ios::trunc) << text;
    EXPECT_FALSE(lookup_cached_result(hw_, model_)) << text;
  }
  std::ofstream(path, std::ios::trunc) << good << " \n\t";
  EXPECT_TRUE(lookup_cached_result(hw_, model_));
}

TEST_F(CacheTest, StoreFailures) {
  ModelProfile missing = model_;
  missing.model_path = (root_ / "nope.gguf").string();
  auto r = store_cached_result(hw_, missing, result_);
  ASSERT_FALSE(r);
  EXPECT_EQ(r.error().full_message(), "could not compute cache key");

  // A plain file where the cache directory should be.
  std::ofstream(root_ / ".quarlent") << "x";
  r = store_cached_result(hw_, model_, result_);
  ASSERT_FALSE(r);
  EXPECT_NE(r.error().message().find("os error"), std::string::npos) << r.error().message();
}

}  // namespace
}  // namespace bc
