#include "runtime/conversion.hpp"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>

#include "core/process.hpp"
#include "runtime/fake_tools.hpp"
#include "runtime/runner_location.hpp"
#include "runtime/runner_script_search.hpp"

namespace bc {
namespace {

using namespace bc::testing;
using Calls = std::vector<std::vector<std::string>>;

const std::string kGgufRunner = "gguf_to_onnx_runner.py";
const std::string kOnnxRunner = "onnx_to_gguf_runner.py";

std::string snippet(const std::string& file) {
  return "import brindlecove, os; print(os.path.join(os.path.dirname(brindlecove.__file__), '" +
         file + "'))";
}

// The repository that holds this test, for the real runner scripts.
std::filesystem::path source_tree() {
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().parent_path();
}

// Enters a directory for one scope. The walk up from the working directory
// would otherwise find the repository's own scripts.
class ScopedCwd {
 public:
  explicit ScopedCwd(const std::filesystem::path& dir) : old_(std::filesystem::current_path()) {
    std::filesystem::current_path(dir);
  }
  ~ScopedCwd() { std::filesystem::current_path(old_); }
  ScopedCwd(const ScopedCwd&) = delete;
  ScopedCwd& operator=(const ScopedCwd&) = delete;

 private:
  std::filesystem::path old_;
};

class Conversion : public ::testing::Test {
 protected:
  std::filesystem::path put_runner(const std::filesystem::path& dir, const std::string& file) {
    auto p = dir / "python/brindlecove" / file;
    write_file(p, "# fake runner\n");
    return p;
  }
  // A python3 that answers every run with `reply` (and records its stdin).
  void add_python(FakeRun reply, const std::vector<std::pair<std::string, FakeRun>>& when = {}) {
    reply.save_stdin = true;
    tools.add("python3", reply, when);
  }
  std::string python() const { return tools.tool_path("python3").string(); }

  FakeTools tools;
  TempDir work;
  ScopedCwd cwd{work.path()};
  TempDir dev;
  ScopedEnv dev_env{kDevDirVariable, dev.path().string()};
};

TEST_F(Conversion, RequestOnStdinReplyOnStdout) {
  struct Case {
    Expected<std::string> (*convert)(const std::string&, const std::string&);
    std::string file;
  } cases[] = {{convert_gguf_to_onnx, kGgufRunner}, {convert_onnx_to_gguf, kOnnxRunner}};
  for (const auto& c : cases) {
    FakeTools fresh;
    FakeRun reply{"{\"output_path\": \"/abs/out \\u00e9.bin\"}\n", "converting...\n", 0};
    reply.save_stdin = true;
    fresh.add("python3", reply);
    const auto script = put_runner(dev.path(), c.file);
    auto result = c.convert("in \"q\"\\b\u00e9.gguf", "out.onnx");
    ASSERT_TRUE(result) << result.error().full_message();
    EXPECT_EQ(*result, "/abs/out \u00e9.bin");
    EXPECT_EQ(fresh.calls("python3"), (Calls{{fresh.tool_path("python3").string(), script}}));
    EXPECT_EQ(fresh.saved_stdin("python3"),
              "{\"input_path\":\"in \\\"q\\\"\\\\b\u00e9.gguf\",\"output_path\":\"out.onnx\"}");
  }
}

TEST_F(Conversion, ReplyDecidesTheOutcome) {
  put_runner(dev.path(), kGgufRunner);
  struct Case {
    FakeRun run;
    std::optional<std::string> output;  // success with this text
    std::string message;                // otherwise this message
  } cases[] = {
      {{R"({"output_path": "/o.onnx", "error": "tensor too large"})"}, {}, "tensor too large"},
      {{R"({"output_path": null})"}, {}, "conversion succeeded but no output_path was returned"},
      {{"{}"}, {}, "conversion succeeded but no output_path was returned"},
      {{"loading...\n{\"output_path\": \"/o.onnx\"}", "  warning: slow \n"},
       {},
       "conversion process returned invalid output (stderr: warning: slow)"},
      {{"", "Traceback: boom\xff\n", 1},
       {},
       "conversion process returned invalid output (stderr: Traceback: boom\uFFFD)"},
      {{R"({"output_path": "/o.onnx"})", "", 1}, "/o.onnx", ""},
      {{R"({"output_path": "/o.onnx"})", "", 0, /*killed=*/true}, "/o.onnx", ""},
      {{R"({"error": null, "output_path": "rel/o.onnx", "seconds": 3})"}, "rel/o.onnx", ""},
      {{R"({"error": "input file not found: /x.gguf"})", "", 1},
       {},
       "input file not found: /x.gguf"},
  };
  for (const auto& c : cases) {
    FakeTools fresh;
    fresh.add("python3", c.run);
    auto result = convert_gguf_to_onnx("/x.gguf", "o.onnx");
    if (c.output) {
      ASSERT_TRUE(result) << result.error().full_message();
      EXPECT_EQ(*result, *c.output);
    } else {
      ASSERT_FALSE(result) << *result;
      EXPECT_EQ(result.error().full_message(), c.message);
      EXPECT_EQ(result.error().find_adapter_error(), nullptr);
    }
  }
}

TEST(ConvertResponse, ReadsOnlyWellFormedReplies) {
  struct Case {
    std::string text;
    std::optional<ConvertResponse> expected;
  } cases[] = {
      {"\n\t {\"output_path\":\"/a\"} \r\n", ConvertResponse{"/a", {}}},
      {R"({"error":"e","output_path":null})", ConvertResponse{{}, "e"}},
      {R"({"x":1,"x":2,"nested":{"error":5}})", ConvertResponse{}},
      {"", {}},
      {"   ", {}},
      {"[]", {}},
      {"\"/a\"", {}},
      {"null", {}},
      {R"({"output_path":5})", {}},
      {R"({"error":["e"]})", {}},
      {R"({"output_path":"/a","output_path":"/b"})", {}},
      {R"({"error":null,"error":"e"})", {}},
      {R"({"output_path":"/a"} {})", {}},
      {R"({"output_path":"/a"}x)", {}},
      {R"({"output_path":"/a")", {}},
      {"\xEF\xBB\xBF{\"output_path\":\"/a\"}", {}},
      {"{\"output_path\":\"/\xff\"}", {}},
      {std::string(100000, '['), {}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(read_convert_response(c.text), c.expected) << c.text.substr(0, 60);
  }
}

TEST_F(Conversion, MissingInterpreterOrScript) {
  auto result = convert_gguf_to_onnx("/in.gguf", "/out.onnx");
  ASSERT_FALSE(result);
  const AdapterError* adapter = result.error().find_adapter_error();
  ASSERT_NE(adapter, nullptr);
  EXPECT_EQ(adapter->kind, AdapterError::Kind::NotInstalled);
  EXPECT_EQ(result.error().full_message(),
            "required binary 'python3' was not found in PATH \u2014 install Python 3 from "
            "https://www.python.org/downloads/");

  // The installed-package question is asked once and answered with nothing.
  ScopedEnv no_dev(kDevDirVariable, std::nullopt);
  add_python({"", "ModuleNotFoundError: No module named 'brindlecove'\n", 1});
  result = convert_onnx_to_gguf("/in.onnx", "/out.gguf");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().full_message(),
            "onnx_to_gguf_runner.py not found \u2014 ensure brindlecove is properly installed");
  EXPECT_EQ(tools.calls("python3"), (Calls{{python(), "-c", snippet(kOnnxRunner)}}));
}

TEST_F(Conversion, InterpreterThatCannotStart) {
  put_runner(dev.path(), kGgufRunner);
  write_file(tools.tool_path("python3"), "#!/nonexistent/interpreter\n", true);
  auto result = convert_gguf_to_onnx("/in.gguf", "/out.onnx");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().full_message(),
            "failed to spawn conversion process: No such file or directory (os error 2)");
}

TEST_F(Conversion, ScriptFoundAboveTheWorkingDirectory) {
  ScopedEnv no_dev(kDevDirVariable, std::nullopt);
  const auto script = put_runner(work.path(), kGgufRunner);
  std::filesystem::create_directories(work / "a/b");
  ScopedCwd deeper(work / "a/b");
  add_python({R"({"output_path":"/o.onnx"})"});
  ASSERT_TRUE(convert_gguf_to_onnx("/in.gguf", "/o.onnx"));
  EXPECT_EQ(tools.calls("python3"), (Calls{{python(), script.string()}}));
}

TEST_F(Conversion, ScriptFoundInTheInstalledPackage) {
  ScopedEnv no_dev(kDevDirVariable, std::nullopt);
  const auto installed = dev / "site-packages/brindlecove/gguf_to_onnx_runner.py";
  write_file(installed, "# fake runner\n");
  add_python({R"({"output_path":"/o.onnx"})"}, {{"-c", FakeRun{installed.string() + "\n"}}});
  ASSERT_TRUE(convert_gguf_to_onnx("/in.gguf", "/o.onnx"));
  EXPECT_EQ(tools.calls("python3"),
            (Calls{{python(), "-c", snippet(kGgufRunner)}, {python(), installed.string()}}));
}

TEST(RunnerScriptSearch, CandidatesInOrderWithTheirDepthLimits) {
  RunnerSearchPlaces places;
  places.host_executable = "/opt/app/bin/host";
  places.working_directory = "/w1/w2/w3/w4/w5/w6/w7";
  places.dev_dir = "/d1/d2/d3/d4/d5/d6";
  places.module_directory = "/site/brindlecove";
  const std::string rel = "python/brindlecove/x.py";
  EXPECT_EQ(runner_script_candidates(rel, places), (std::vector<std::filesystem::path>{
                                                       "/opt/app/bin/python/brindlecove/x.py",
                                                       "/w1/w2/w3/w4/w5/w6/w7/" + rel,
                                                       "/w1/w2/w3/w4/w5/w6/" + rel,
                                                       "/w1/w2/w3/w4/w5/" + rel,
                                                       "/w1/w2/w3/w4/" + rel,
                                                       "/w1/w2/w3/" + rel,
                                                       "/w1/w2/" + rel,
                                                       "/d1/d2/d3/d4/d5/d6/" + rel,
                                                       "/d1/d2/d3/d4/d5/" + rel,
                                                       "/d1/d2/d3/d4/" + rel,
                                                       "/d1/d2/d3/" + rel,
                                                       "/d1/d2/" + rel,
                                                   }));

  // Walks stop at the root; a host path without parent gives no candidate.
  places = {};
  places.host_executable = "host";
  places.working_directory = "/w";
  EXPECT_EQ(
      runner_script_candidates(rel, places),
      (std::vector<std::filesystem::path>{"python/brindlecove/x.py", "/w/" + rel, "/" + rel}));
  places.host_executable = "/";
  places.working_directory.reset();
  EXPECT_TRUE(runner_script_candidates(rel, places).empty());
  EXPECT_EQ(runner_file_name(rel), "x.py");
  EXPECT_EQ(runner_file_name("x.py"), "x.py");
}

TEST(RunnerScriptSearch, ModuleDirectoryComesLast) {
  FakeTools tools;
  TempDir dirs;
  const auto module_script = dirs / "module/gguf_to_onnx_runner.py";
  const auto installed = dirs / "installed/gguf_to_onnx_runner.py";
  write_file(module_script, "#\n");
  RunnerSearchPlaces places;
  places.module_directory = dirs / "module";

  tools.add("python3", {"", "No module named 'brindlecove'\n", 1});
  EXPECT_EQ(locate_runner_script(kGgufToOnnxRunner, places), module_script);

  // An installed package that answers wins over the module directory, but
  // only when the script it names exists.
  std::filesystem::remove(tools.tool_path("python3"));
  tools.add("python3", {installed.string() + "\n"});
  EXPECT_EQ(locate_runner_script(kGgufToOnnxRunner, places), module_script);
  write_file(installed, "#\n");
  EXPECT_EQ(locate_runner_script(kGgufToOnnxRunner, places), installed);

  places.module_directory = dirs / "elsewhere";
  std::filesystem::remove(installed);
  EXPECT_EQ(locate_runner_script(kGgufToOnnxRunner, places), std::nullopt);
}

// A GGUF file of one float32 tensor "w" of two values and one metadata
// entry, general.architecture = "llama".
std::string tiny_gguf() {
  auto u32 = [](uint32_t v) { return std::string(reinterpret_cast<const char*>(&v), 4); };
  auto u64 = [](uint64_t v) { return std::string(reinterpret_cast<const char*>(&v), 8); };
  auto str = [&](const std::string& s) { return u64(s.size()) + s; };
  std::string b = "GGUF" + u32(3) + u64(1) + u64(1);
  b += str("general.architecture") + u32(8) + str("llama");
  b += str("w") + u32(1) + u64(2) + u32(0) + u64(0);
  b.append((32 - b.size() % 32) % 32, '\0');
  float values[2] = {1.5f, -2.0f};
  b.append(reinterpret_cast<const char*>(values), sizeof values);
  return b;
}

// The real runners under the system interpreter: without the gguf package
// the error reply names it; with the tests' stand-in for it they convert.
TEST_F(Conversion, RealRunners) {
  const auto tree = source_tree();
  ASSERT_TRUE(std::filesystem::exists(tree / "python/brindlecove/gguf_to_onnx_runner.py"));
  ScopedEnv real_dev(kDevDirVariable, (tree / "python/brindlecove").string());
  std::filesystem::create_symlink("/usr/bin/python3", tools.tool_path("python3"));

  auto probe = run_captured("/usr/bin/python3", {"-c", "import gguf"});
  ASSERT_TRUE(probe);
  const std::string missing = (work / "missing.gguf").string();
  auto result = convert_gguf_to_onnx(missing, "out.onnx");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().full_message(),
            probe->success() ? "input file not found: " + missing
                             : "required Python package not installed: gguf (pip install gguf)");

  ScopedEnv standin("PYTHONPATH", (tree / "tests/python/gguf_standin").string());
  result = convert_gguf_to_onnx(missing, "out.onnx");
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().full_message(), "input file not found: " + missing);

  write_file(work / "tiny.gguf", tiny_gguf());
  const auto real_work = std::filesystem::canonical(work.path());
  result = convert_gguf_to_onnx("tiny.gguf", "tiny.onnx");
  ASSERT_TRUE(result) << result.error().full_message();
  EXPECT_EQ(*result, (real_work / "tiny.onnx").string());
  result = convert_onnx_to_gguf("tiny.onnx", "back.gguf");
  ASSERT_TRUE(result) << result.error().full_message();
  EXPECT_EQ(*result, (real_work / "back.gguf").string());
  EXPECT_EQ(read_file(work / "back.gguf").substr(0, 4), "GGUF");
}

}  // namespace
}  // namespace bc
