#include "core/process.hpp"

#include <gtest/gtest.h>

#include <chrono>

namespace bc {
namespace {

ProcessSpec shell(std::string script) {
  ProcessSpec job;
  job.program = "/bin/sh";
  job.args = {"-c", std::move(script)};
  return job;
}

TEST(Process, CapturesBothStreamsAndStatus) {
  auto r = run_process(shell("echo out; echo err >&2; exit 3"));
  ASSERT_TRUE(r) << r.error().message();
  EXPECT_EQ(r->out, "out\n");
  EXPECT_EQ(r->err, "err\n");
  EXPECT_EQ(r->exit_code, 3);
  EXPECT_FALSE(r->success());
}

TEST(Process, DrainsLargeOutputOnBothPipesWithoutDeadlock) {
  // Far beyond a pipe's buffer on each stream at once.
  auto r = run_process(shell("head -c 1000000 /dev/zero; head -c 1000000 /dev/zero >&2"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out.size(), 1000000u);
  EXPECT_EQ(r->err.size(), 1000000u);
  EXPECT_TRUE(r->success());
}

TEST(Process, StdinIsNullByDefaultAndBytesWhenAsked) {
  auto r = run_process(shell("cat; echo done"));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out, "done\n");
  auto job = shell("wc -c");
  job.input = ProcessSpec::Input::Bytes;
  job.input_bytes = std::string(300000, 'x');
  r = run_process(job);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out, "300000\n");
}

TEST(Process, ChildClosingStdinEarlyIsNotFatal) {
  auto job = shell("exec 0<&-; echo closed");
  job.input = ProcessSpec::Input::Bytes;
  job.input_bytes = std::string(1 << 20, 'x');
  auto r = run_process(job);
  ASSERT_TRUE(r);
  EXPECT_EQ(r->out, "closed\n");
}

TEST(Process, SignalAndStartErrors) {
  auto r = run_process(shell("kill -9 $$"));
  ASSERT_TRUE(r);
  EXPECT_FALSE(r->exit_code);
  EXPECT_EQ(r->signal, 9);
  EXPECT_FALSE(r->success());

  auto missing = run_captured("brindlecove-no-such-tool", {});
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().message(), "No such file or directory (os error 2)");
}

TEST(Process, TimeLimitKillsAndReaps) {
  auto job = shell("echo started; exec sleep 30");
  job.time_limit = std::chrono::milliseconds(1000);
  auto start = std::chrono::steady_clock::now();
  auto r = run_process(job);
  ASSERT_TRUE(r);
  EXPECT_TRUE(r->timed_out);
  EXPECT_EQ(r->out, "started\n");
  EXPECT_FALSE(r->success());
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
}

}  // namespace
}  // namespace bc
