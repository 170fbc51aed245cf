#include "core/json_forms.hpp"

#include <charconv>
#include <cmath>
#include <set>
#include <vector>

namespace bc {
namespace {

void write_double(std::string& out, double v) {
  if (!std::isfinite(v)) {
    out += "null";
    return;
  }
  // Plain to_chars prefers an exponent whenever it is shorter, so 100000.0
  // would come out as "1e+05" and lose its fraction; only very large and very
  // small magnitudes take the exponent form.
  const double magnitude = std::fabs(v);
  const bool plain = magnitude == 0.0 || (magnitude >= 1e-4 && magnitude < 1e16);
  char buf[64];
  auto [end, ec] = std::to_chars(buf, buf + sizeof buf, v,
                                 plain ? std::chars_format::fixed : std::chars_format::scientific);
  std::string_view text(buf, static_cast<size_t>(end - buf));
  out += text;
  if (text.find_first_of(".eE") == std::string_view::npos) out += ".0";
}

void write_string(std::string& out, std::string_view s) {
  static const char* hex = "0123456789abcdef";
  out += '"';
  for (char ch : s) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\b':
        out += "\\b";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\f':
        out += "\\f";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (c < 0x20) {
          out += "\\u00";
          out += hex[c >> 4];
          out += hex[c & 0xF];
        } else {
          out += ch;
        }
    }
  }
  out += '"';
}

void write_value(std::string& out, const OrderedJson& v, bool indented, int depth) {
  auto newline = [&](int level) {
    out += '\n';
    out.append(static_cast<size_t>(level) * 2, ' ');
  };
  switch (v.type()) {
    case OrderedJson::value_t::null:
      out += "null";
      break;
    case OrderedJson::value_t::boolean:
      out += v.get<bool>() ? "true" : "false";
      break;
    case OrderedJson::value_t::number_unsigned:
      out += std::to_string(v.get<uint64_t>());
      break;
    case OrderedJson::value_t::number_integer:
      out += std::to_string(v.get<int64_t>());
      break;
    case OrderedJson::value_t::number_float:
      write_double(out, v.get<double>());
      break;
    case OrderedJson::value_t::string:
      write_string(out, v.get_ref<const std::string&>());
      break;
    case OrderedJson::value_t::array: {
      out += '[';
      bool first = true;
      for (const auto& item : v) {
        if (!first) out += ',';
        if (indented) newline(depth + 1);
        write_value(out, item, indented, depth + 1);
        first = false;
      }
      if (indented && !v.empty()) newline(depth);
      out += ']';
      break;
    }
    case OrderedJson::value_t::object: {
      out += '{';
      bool first = true;
      for (const auto& [key, item] : v.items()) {
        if (!first) out += ',';
        if (indented) newline(depth + 1);
        write_string(out, key);
        out += indented ? ": " : ":";
        write_value(out, item, indented, depth + 1);
        first = false;
      }
      if (indented && !v.empty()) newline(depth);
      out += '}';
      break;
    }
    case OrderedJson::value_t::binary:
    case OrderedJson::value_t::discarded:
      out += "null";
      break;
  }
}

Expected<const OrderedJson*> member(const OrderedJson& obj, const char* key) {
  auto it = obj.find(key);
  if (it == obj.end()) return fail(std::string("missing field `") + key + "`");
  return &*it;
}

Expected<uint64_t> read_unsigned(const OrderedJson& obj, const char* key, uint64_t max) {
  auto m = member(obj, key);
  if (!m) return std::unexpected(m.error());
  const OrderedJson& v = **m;
  if (v.is_number_unsigned() && v.get<uint64_t>() <= max) return v.get<uint64_t>();
  if (v.is_number_integer() && v.get<int64_t>() >= 0 &&
      static_cast<uint64_t>(v.get<int64_t>()) <= max)
    return static_cast<uint64_t>(v.get<int64_t>());
  return fail(std::string("invalid type for `") + key + "`: expected an unsigned integer");
}

Expected<double> read_double(const OrderedJson& obj, const char* key) {
  auto m = member(obj, key);
  if (!m) return std::unexpected(m.error());
  if (!(*m)->is_number())
    return fail(std::string("invalid type for `") + key + "`: expected a number");
  return (*m)->get<double>();
}

template <class Enum, class Lookup>
Expected<Enum> read_enum(const OrderedJson& obj, const char* key, Lookup lookup) {
  auto m = member(obj, key);
  if (!m) return std::unexpected(m.error());
  if (!(*m)->is_string())
    return fail(std::string("invalid type for `") + key + "`: expected a string");
  auto e = lookup((*m)->template get_ref<const std::string&>());
  if (!e) return fail("unknown variant `" + (*m)->template get<std::string>() + "`");
  return *e;
}

Expected<RuntimeConfig> config_from_value(const OrderedJson& v) {
  if (!v.is_object()) return fail("invalid type: expected RuntimeConfig object");
  RuntimeConfig c;
  auto rt = read_enum<RuntimeKind>(v, "runtime", runtime_kind_from_name);
  if (!rt) return std::unexpected(rt.error());
  auto q = read_enum<QuantizationStrategy>(v, "quantization", quantization_from_name);
  if (!q) return std::unexpected(q.error());
  auto t = read_unsigned(v, "threads", UINT32_MAX);
  if (!t) return std::unexpected(t.error());
  auto b = read_unsigned(v, "batch_size", UINT32_MAX);
  if (!b) return std::unexpected(b.error());
  auto g = read_unsigned(v, "gpu_layers", UINT32_MAX);
  if (!g) return std::unexpected(g.error());
  c.runtime = *rt;
  c.quantization = *q;
  c.threads = static_cast<uint32_t>(*t);
  c.batch_size = static_cast<uint32_t>(*b);
  c.gpu_layers = static_cast<uint32_t>(*g);
  return c;
}

Expected<BenchmarkResult> metrics_from_value(const OrderedJson& v) {
  if (!v.is_object()) return fail("invalid type: expected BenchmarkResult object");
  auto tps = read_double(v, "tokens_per_sec");
  if (!tps) return std::unexpected(tps.error());
  auto lat = read_double(v, "latency_ms");
  if (!lat) return std::unexpected(lat.error());
  auto mem = read_unsigned(v, "peak_memory_mb", UINT64_MAX);
  if (!mem) return std::unexpected(mem.error());
  return BenchmarkResult{*tps, *lat, *mem};
}

}  // namespace

std::string write_json(const OrderedJson& value, bool indented) {
  std::string out;
  write_value(out, value, indented, 0);
  return out;
}

std::string json_quote(std::string_view text) {
  std::string out;
  write_string(out, text);
  return out;
}

OrderedJson to_json_value(const HardwareProfile& p) {
  OrderedJson cpu = OrderedJson::object();
  cpu["core_count"] = p.cpu.core_count;
  cpu["brand"] = p.cpu.brand;
  cpu["simd_level"] = std::string(name(p.cpu.simd_level));
  OrderedJson gpu = nullptr;
  if (p.gpu) {
    gpu = OrderedJson::object();
    gpu["name"] = p.gpu->name;
    gpu["vram_mb"] = p.gpu->vram_mb;
    if (p.gpu->compute_capability)
      gpu["compute_capability"] =
          OrderedJson::array({p.gpu->compute_capability->first, p.gpu->compute_capability->second});
    else
      gpu["compute_capability"] = nullptr;
    gpu["vendor"] = std::string(name(p.gpu->vendor));
  }
  OrderedJson ram = OrderedJson::object();
  ram["total_mb"] = p.ram.total_mb;
  ram["available_mb"] = p.ram.available_mb;
  OrderedJson out = OrderedJson::object();
  out["cpu"] = std::move(cpu);
  out["gpu"] = std::move(gpu);
  out["ram"] = std::move(ram);
  return out;
}

OrderedJson to_json_value(const RuntimeConfig& c) {
  OrderedJson out = OrderedJson::object();
  out["runtime"] = std::string(name(c.runtime));
  out["quantization"] = std::string(name(c.quantization));
  out["threads"] = c.threads;
  out["batch_size"] = c.batch_size;
  out["gpu_layers"] = c.gpu_layers;
  return out;
}

OrderedJson to_json_value(const BenchmarkResult& b) {
  OrderedJson out = OrderedJson::object();
  out["tokens_per_sec"] = b.tokens_per_sec;
  out["latency_ms"] = b.latency_ms;
  out["peak_memory_mb"] = b.peak_memory_mb;
  return out;
}

OrderedJson to_json_value(const OptimizationResult& r) {
  OrderedJson out = OrderedJson::object();
  out["config"] = to_json_value(r.config);
  out["metrics"] = to_json_value(r.metrics);
  return out;
}

std::string to_json_compact(const HardwareProfile& p) { return write_json(to_json_value(p)); }
std::string to_json_compact(const OptimizationResult& r) { return write_json(to_json_value(r)); }
std::string to_json_indented(const OptimizationResult& r) {
  return write_json(to_json_value(r), true);
}

Expected<OrderedJson> parse_json_strict(std::string_view text) {
  // One set of keys per open object; a key seen twice in one object fails.
  std::vector<std::set<std::string>> open;
  std::string duplicate;
  auto callback = [&](int /*depth*/, OrderedJson::parse_event_t event, OrderedJson& parsed) {
    switch (event) {
      case OrderedJson::parse_event_t::object_start:
        open.emplace_back();
        break;
      case OrderedJson::parse_event_t::object_end:
        if (!open.empty()) open.pop_back();
        break;
      case OrderedJson::parse_event_t::key:
        if (!open.empty() && !open.back().insert(parsed.get<std::string>()).second &&
            duplicate.empty())
          duplicate = parsed.get<std::string>();
        break;
      default:
        break;
    }
    return true;
  };
  OrderedJson value;
  try {
    value = OrderedJson::parse(text.begin(), text.end(), callback);
  } catch (const OrderedJson::exception& e) {
    return fail(std::string(e.what()));
  }
  if (!duplicate.empty()) return fail("duplicate field `" + duplicate + "`");
  return value;
}

Expected<OptimizationResult> optimization_result_from_value(const OrderedJson& v) {
  if (!v.is_object()) return fail("invalid type: expected OptimizationResult object");
  auto c = member(v, "config");
  if (!c) return std::unexpected(c.error());
  auto m = member(v, "metrics");
  if (!m) return std::unexpected(m.error());
  auto config = config_from_value(**c);
  if (!config) return std::unexpected(config.error());
  auto metrics = metrics_from_value(**m);
  if (!metrics) return std::unexpected(metrics.error());
  return OptimizationResult{*config, *metrics};
}

Expected<OptimizationResult> read_optimization_result(std::string_view text) {
  auto v = parse_json_strict(text);
  if (!v) return std::unexpected(v.error());
  return optimization_result_from_value(*v);
}

}  // namespace bc
