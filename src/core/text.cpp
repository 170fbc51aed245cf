#include "core/text.hpp"

#include <locale.h>
#include <wctype.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <limits>

namespace bc {
namespace {

// Returns the code point and its length, or length 0 for an invalid sequence.
struct Decoded {
  char32_t cp;
  size_t len;
};

Decoded decode_one(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b0 = byte(i);
  if (b0 < 0x80) return {b0, 1};
  size_t need;
  char32_t cp;
  char32_t min;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1, cp = b0 & 0x1F, min = 0x80;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2, cp = b0 & 0x0F, min = 0x800;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3, cp = b0 & 0x07, min = 0x10000;
  } else {
    return {0, 0};
  }
  for (size_t k = 1; k <= need; ++k) {
    if (i + k >= s.size() || (byte(i + k) & 0xC0) != 0x80) return {0, 0};
    cp = (cp << 6) | (byte(i + k) & 0x3F);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return {0, 0};
  return {cp, need + 1};
}

// Length of the maximal prefix of an invalid sequence, as WHATWG/Rust count
// it, so each such prefix becomes one U+FFFD.
size_t invalid_prefix_len(std::string_view s, size_t i) {
  auto byte = [&](size_t k) { return static_cast<unsigned char>(s[k]); };
  unsigned char b0 = byte(i);
  size_t need;
  unsigned char lo = 0x80, hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;
    if (b0 == 0xED) hi = 0x9F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;
    if (b0 == 0xF4) hi = 0x8F;
  } else {
    return 1;
  }
  size_t k = 1;
  if (i + k < s.size() && byte(i + k) >= lo && byte(i + k) <= hi) {
    ++k;
    while (k <= need && i + k < s.size() && (byte(i + k) & 0xC0) == 0x80) ++k;
  }
  return k;
}

void append_utf8(std::string& out, char32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

bool is_white_space(char32_t c) {
  return (c >= 0x09 && c <= 0x0D) || c == 0x20 || c == 0x85 || c == 0xA0 || c == 0x1680 ||
         (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F ||
         c == 0x3000;
}

// Length of the white-space code point starting at i, or 0.
size_t white_at(std::string_view s, size_t i) {
  Decoded d = decode_one(s, i);
  return (d.len != 0 && is_white_space(d.cp)) ? d.len : 0;
}

// Length of the white-space code point ending at `end`, or 0.
size_t white_before(std::string_view s, size_t end) {
  for (size_t len = 1; len <= 3 && len <= end; ++len) {
    size_t start = end - len;
    Decoded d = decode_one(s, start);
    if (d.len == len) return is_white_space(d.cp) ? len : 0;
  }
  return 0;
}

}  // namespace

std::string decode_utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  size_t i = 0;
  while (i < bytes.size()) {
    Decoded d = decode_one(bytes, i);
    if (d.len != 0) {
      out.append(bytes.substr(i, d.len));
      i += d.len;
    } else {
      out += "\xEF\xBF\xBD";
      i += invalid_prefix_len(bytes, i);
    }
  }
  return out;
}

bool is_valid_utf8(std::string_view bytes) {
  for (size_t i = 0; i < bytes.size();) {
    Decoded d = decode_one(bytes, i);
    if (d.len == 0) return false;
    i += d.len;
  }
  return true;
}

std::string_view trim_start(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    size_t n = white_at(s, i);
    if (n == 0) break;
    i += n;
  }
  return s.substr(i);
}

std::string_view trim(std::string_view s) {
  s = trim_start(s);
  size_t end = s.size();
  while (end > 0) {
    size_t n = white_before(s, end);
    if (n == 0) break;
    end -= n;
  }
  return s.substr(0, end);
}

std::vector<std::string_view> split_whitespace(std::string_view s) {
  std::vector<std::string_view> out;
  size_t i = 0, start = 0;
  while (i < s.size()) {
    size_t n = white_at(s, i);
    if (n != 0) {
      if (i > start) out.push_back(s.substr(start, i - start));
      i += n;
      start = i;
    } else {
      ++i;
    }
  }
  if (i > start) out.push_back(s.substr(start, i - start));
  return out;
}

std::vector<std::string_view> split_lines(std::string_view s) {
  std::vector<std::string_view> out;
  size_t start = 0;
  while (start < s.size()) {
    size_t nl = s.find('\n', start);
    if (nl == std::string_view::npos) {
      out.push_back(s.substr(start));
      break;
    }
    std::string_view line = s.substr(start, nl - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    out.push_back(line);
    start = nl + 1;
  }
  return out;
}

std::vector<std::string_view> split_char(std::string_view s, char sep) {
  std::vector<std::string_view> out;
  size_t start = 0;
  for (;;) {
    size_t p = s.find(sep, start);
    if (p == std::string_view::npos) {
      out.push_back(s.substr(start));
      return out;
    }
    out.push_back(s.substr(start, p - start));
    start = p + 1;
  }
}

std::string to_lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

std::string to_lower_unicode(std::string_view s) {
  // The process's own locale may be "C"; case mapping needs a UTF-8 one.
  static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", locale_t{});
  auto is_letter = [](char32_t c) {
    return utf8 != locale_t{} && iswalpha_l(static_cast<wint_t>(c), utf8);
  };
  std::vector<Decoded> cps;
  for (size_t i = 0; i < s.size();) {
    Decoded d = decode_one(s, i);
    cps.push_back(d);
    i += d.len == 0 ? 1 : d.len;
  }
  std::string out;
  out.reserve(s.size());
  size_t at = 0;
  for (size_t k = 0; k < cps.size(); ++k) {
    const Decoded d = cps[k];
    if (d.len == 0) {
      out += s[at++];
      continue;
    }
    at += d.len;
    char32_t cp = d.cp;
    if (cp < 0x80) {
      if (cp >= 'A' && cp <= 'Z') cp += 'a' - 'A';
    } else if (cp == 0x130) {
      // The one unconditional multi-character lower case: i + combining dot.
      append_utf8(out, U'i');
      cp = 0x307;
    } else if (cp == 0x3A3) {
      // Capital sigma ending a word lower-cases to final sigma.
      const bool after_letter = k > 0 && cps[k - 1].len != 0 && is_letter(cps[k - 1].cp);
      const bool before_letter =
          k + 1 < cps.size() && cps[k + 1].len != 0 && is_letter(cps[k + 1].cp);
      cp = after_letter && !before_letter ? 0x3C2 : 0x3C3;
    } else if (utf8 != locale_t{}) {
      cp = static_cast<char32_t>(towlower_l(static_cast<wint_t>(cp), utf8));
    }
    append_utf8(out, cp);
  }
  return out;
}

std::optional<uint64_t> parse_u64(std::string_view s) {
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return std::nullopt;
  uint64_t v = 0;
  for (char c : s) {
    if (c < '0' || c > '9') return std::nullopt;
    uint64_t d = static_cast<uint64_t>(c - '0');
    if (v > (std::numeric_limits<uint64_t>::max() - d) / 10) return std::nullopt;
    v = v * 10 + d;
  }
  return v;
}

std::optional<uint32_t> parse_u32(std::string_view s) {
  auto v = parse_u64(s);
  if (!v || *v > std::numeric_limits<uint32_t>::max()) return std::nullopt;
  return static_cast<uint32_t>(*v);
}

std::optional<double> parse_f64(std::string_view s) {
  std::string_view body = s;
  bool negative = false;
  if (!body.empty() && (body.front() == '+' || body.front() == '-')) {
    negative = body.front() == '-';
    body.remove_prefix(1);
  }
  std::string lower = to_lower_ascii(body);
  if (lower == "inf" || lower == "infinity") {
    return negative ? -std::numeric_limits<double>::infinity()
                    : std::numeric_limits<double>::infinity();
  }
  if (lower == "nan") return std::numeric_limits<double>::quiet_NaN();
  size_t i = 0, digits = 0;
  while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++digits;
  if (i < body.size() && body[i] == '.') {
    ++i;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return std::nullopt;
  if (i < body.size() && (body[i] == 'e' || body[i] == 'E')) {
    ++i;
    if (i < body.size() && (body[i] == '+' || body[i] == '-')) ++i;
    size_t exp_digits = 0;
    while (i < body.size() && body[i] >= '0' && body[i] <= '9') ++i, ++exp_digits;
    if (exp_digits == 0) return std::nullopt;
  }
  if (i != body.size()) return std::nullopt;
  double v = 0.0;
  auto [ptr, ec] = std::from_chars(body.data(), body.data() + body.size(), v);
  if (ec == std::errc::result_out_of_range) {
    // Overflow reads as infinity and underflow as zero, like strtod.
    v = std::strtod(std::string(body).c_str(), nullptr);
  } else if (ec != std::errc() || ptr != body.data() + body.size()) {
    return std::nullopt;
  }
  return negative ? -v : v;
}

std::string format_fixed(double v, int decimals) {
  if (std::isnan(v)) return "NaN";
  if (std::isinf(v)) return v > 0 ? "inf" : "-inf";
  // to_chars, unlike printf, ignores LC_NUMERIC, which a Python program may
  // have set to a locale with a decimal comma.
  std::string out(static_cast<size_t>(std::max(decimals, 0)) + 330, '\0');
  auto [end, ec] =
      std::to_chars(out.data(), out.data() + out.size(), v, std::chars_format::fixed, decimals);
  out.resize(ec == std::errc() ? static_cast<size_t>(end - out.data()) : 0);
  return out;
}

uint64_t saturate_u64(double v) {
  if (std::isnan(v) || v <= 0.0) return 0;
  if (v >= 18446744073709551616.0) return std::numeric_limits<uint64_t>::max();
  return static_cast<uint64_t>(v);
}

uint32_t saturate_u32(double v) {
  if (std::isnan(v) || v <= 0.0) return 0;
  if (v >= 4294967296.0) return std::numeric_limits<uint32_t>::max();
  return static_cast<uint32_t>(v);
}

}  // namespace bc
