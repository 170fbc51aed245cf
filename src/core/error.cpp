#include "core/error.hpp"

#include <cstring>

namespace bc {

std::string AdapterError::text() const {
  switch (kind) {
    case Kind::NotInstalled:
      return "required binary '" + a + "' was not found in PATH \u2014 " + b;
    case Kind::InitializationFailed:
      return "model initialization failed: " + a;
    case Kind::ModelLoadFailed:
      return "model load failed for '" + a + "': " + b;
    case Kind::InferenceFailed:
      return "inference failed: " + a;
    case Kind::UnsupportedConfiguration:
      return "unsupported configuration: " + a;
    case Kind::Other:
      return a;
  }
  return a;
}

Error Error::wrap(Error cause, std::string context) {
  Error e(std::move(context));
  e.cause_ = std::make_shared<const Error>(std::move(cause));
  return e;
}

const AdapterError* Error::find_adapter_error() const {
  for (const Error* e = this; e != nullptr; e = e->cause()) {
    if (e->adapter_) return &*e->adapter_;
  }
  return nullptr;
}

std::string Error::full_message() const {
  std::string out = message_;
  for (const Error* e = cause(); e != nullptr; e = e->cause()) {
    out += ": ";
    out += e->message_;
  }
  return out;
}

std::string system_error_text(int errnum) {
  char buf[256];
  // GNU strerror_r may return a static string instead of filling buf.
  const char* text = strerror_r(errnum, buf, sizeof buf);
  return std::string(text) + " (os error " + std::to_string(errnum) + ")";
}

}  // namespace bc
