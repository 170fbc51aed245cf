#include "runtime/ollama_adapter.hpp"

#include <locale.h>
#include <wctype.h>

#include <vector>

#include "core/text.hpp"

namespace bc {
namespace {

// The last path component as a path walk sees it: "." components and
// trailing '/' do not count, and ".." or the root has no file name.
std::optional<std::string_view> file_name(std::string_view path) {
  std::optional<std::string_view> last;
  for (std::string_view piece : split_char(path, '/'))
    if (!piece.empty() && piece != ".") last = piece;
  if (!last || *last == "..") return std::nullopt;
  return last;
}

std::string_view stem(std::string_view name) {
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos || dot == 0) return name;
  return name.substr(0, dot);
}

bool is_alphanumeric(char32_t c) {
  if (c < 0x80) return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
  // The process's own locale may be "C"; the classes need a UTF-8 one.
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  return utf8 != locale_t{} && iswalnum_l(static_cast<wint_t>(c), utf8);
}

// Decodes valid UTF-8 one code point at a time.
char32_t next_code_point(std::string_view s, size_t& i) {
  auto b = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b0 = b(i);
  if (b0 < 0x80) return ++i, b0;
  size_t len = b0 >= 0xF0 ? 4 : b0 >= 0xE0 ? 3 : 2;
  char32_t cp = b0 & (0x7F >> len);
  for (size_t k = 1; k < len; ++k) cp = (cp << 6) | (b(i + k) & 0x3F);
  i += len;
  return cp;
}

}  // namespace

std::string ollama_model_tag(std::string_view model_path) {
  auto name = file_name(model_path);
  if (!name || !is_valid_utf8(stem(*name))) return "model";
  std::string lower = to_lower_unicode(stem(*name));
  std::string tag;
  tag.reserve(lower.size());
  for (size_t i = 0; i < lower.size();) {
    size_t start = i;
    char32_t c = next_code_point(lower, i);
    if (is_alphanumeric(c)) {
      tag.append(lower, start, i - start);
    } else {
      tag += '-';
    }
  }
  return tag;
}

Status OllamaAdapter::initialize(const RuntimeConfig& config) {
  auto tool = find_executable("ollama");
  if (!tool) return fail(AdapterError::not_installed("ollama", std::string(kOllamaInstallHint)));
  state_.tool_path = *tool;
  state_.run_config = config;
  return {};
}

Status OllamaAdapter::load_model(const ModelProfile& model) {
  if (auto s = check_model_file(model.model_path); !s) return s;
  model_tag_ = ollama_model_tag(model.model_path);
  state_.loaded_model = model;
  return {};
}

Expected<BenchmarkResult> OllamaAdapter::run_inference(const std::string& prompt) const {
  if (auto s = check_ready(); !s) return std::unexpected(s.error());
  if (!model_tag_) return fail(AdapterError::initialization_failed("model tag not set"));
  auto run = run_tool(*state_.tool_path, {"run", *model_tag_, prompt, "--verbose"},
                      "ollama exited non-zero: ");
  if (!run) return std::unexpected(run.error());
  auto figures = parse_ollama_output(decode_utf8_lossy(run->err));
  if (!figures)
    return fail(AdapterError::inference_failed("could not parse timing output from ollama"));
  const RuntimeConfig& config = *state_.run_config;
  return BenchmarkResult{
      figures->tokens_per_sec, figures->latency_ms,
      estimate_peak_memory_mb(state_.loaded_model->param_count, config.quantization)};
}

std::optional<TimingFigures> parse_ollama_output(std::string_view text) {
  auto lines = split_lines(text);
  auto rate_line = find_generation_line(lines, "eval rate", "tokens/s");
  if (!rate_line) return std::nullopt;
  auto rate_word = last_word_before(*rate_line, "tokens/s");
  auto rate = rate_word ? parse_f64(*rate_word) : std::nullopt;
  if (!rate) return std::nullopt;

  TimingFigures figures{*rate, 1000.0 / *rate};
  if (auto duration_line = find_generation_line(lines, "eval duration")) {
    auto words = split_whitespace(*duration_line);
    if (!words.empty()) {
      std::string_view word = words.back();
      // Go prints seconds as "1.234567s"; "523.456ms" and the like are not
      // seconds and fall back to the rate.
      while (!word.empty() && word.back() == 's') word.remove_suffix(1);
      if (auto seconds = parse_f64(word)) figures.latency_ms = *seconds * 1000.0;
    }
  }
  return figures;
}

}  // namespace bc
