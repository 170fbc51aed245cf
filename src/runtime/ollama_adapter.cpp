#include "runtime/ollama_adapter.hpp"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <iterator>
#include <utility>
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

// General category No (superscripts, fractions, circled numbers, ...): numeric
// in the Unicode sense, but outside the C library's alnum class, which covers
// letters, other alphabetic marks and symbols, Nd and Nl only (Unicode 14).
constexpr std::pair<char32_t, char32_t> kOtherNumbers[] = {
    {0xB2, 0xB3},       {0xB9, 0xB9},       {0xBC, 0xBE},       {0x9F4, 0x9F9},
    {0xB72, 0xB77},     {0xBF0, 0xBF2},     {0xC78, 0xC7E},     {0xD58, 0xD5E},
    {0xD70, 0xD78},     {0xF2A, 0xF33},     {0x1369, 0x137C},   {0x17F0, 0x17F9},
    {0x19DA, 0x19DA},   {0x2070, 0x2070},   {0x2074, 0x2079},   {0x2080, 0x2089},
    {0x2150, 0x215F},   {0x2189, 0x2189},   {0x2460, 0x249B},   {0x24EA, 0x24FF},
    {0x2776, 0x2793},   {0x2CFD, 0x2CFD},   {0x3192, 0x3195},   {0x3220, 0x3229},
    {0x3248, 0x324F},   {0x3251, 0x325F},   {0x3280, 0x3289},   {0x32B1, 0x32BF},
    {0xA830, 0xA835},   {0x10107, 0x10133}, {0x10175, 0x10178}, {0x1018A, 0x1018B},
    {0x102E1, 0x102FB}, {0x10320, 0x10323}, {0x10858, 0x1085F}, {0x10879, 0x1087F},
    {0x108A7, 0x108AF}, {0x108FB, 0x108FF}, {0x10916, 0x1091B}, {0x109BC, 0x109BD},
    {0x109C0, 0x109CF}, {0x109D2, 0x109FF}, {0x10A40, 0x10A48}, {0x10A7D, 0x10A7E},
    {0x10A9D, 0x10A9F}, {0x10AEB, 0x10AEF}, {0x10B58, 0x10B5F}, {0x10B78, 0x10B7F},
    {0x10BA9, 0x10BAF}, {0x10CFA, 0x10CFF}, {0x10E60, 0x10E7E}, {0x10F1D, 0x10F26},
    {0x10F51, 0x10F54}, {0x10FC5, 0x10FCB}, {0x11052, 0x11065}, {0x111E1, 0x111F4},
    {0x1173A, 0x1173B}, {0x118EA, 0x118F2}, {0x11C5A, 0x11C6C}, {0x11FC0, 0x11FD4},
    {0x16B5B, 0x16B61}, {0x16E80, 0x16E96}, {0x1D2E0, 0x1D2F3}, {0x1D360, 0x1D378},
    {0x1E8C7, 0x1E8CF}, {0x1EC71, 0x1ECAB}, {0x1ECAD, 0x1ECAF}, {0x1ECB1, 0x1ECB4},
    {0x1ED01, 0x1ED2D}, {0x1ED2F, 0x1ED3D}, {0x1F100, 0x1F10C},
};

bool is_other_number(char32_t c) {
  auto it = std::upper_bound(std::begin(kOtherNumbers), std::end(kOtherNumbers), c,
                             [](char32_t v, const auto& range) { return v < range.first; });
  return it != std::begin(kOtherNumbers) && c <= std::prev(it)->second;
}

bool is_alphanumeric(char32_t c) {
  if (c < 0x80) return (c >= '0' && c <= '9') || ((c | 0x20) >= 'a' && (c | 0x20) <= 'z');
  if (is_other_number(c)) return true;
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
