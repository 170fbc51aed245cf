#pragma once
// The error value every fallible step returns through std::expected.
// Context is added on the way up, so a chain reads outermost-first.

#include <expected>
#include <memory>
#include <optional>
#include <string>

namespace bc {

// The runtime subsystem's error enumeration. It lives here so that any
// layer can recognise it while walking a chain (e.g. to find NotInstalled).
struct AdapterError {
  enum class Kind {
    NotInstalled,              // a = binary, b = install_hint
    InitializationFailed,      // a = reason
    ModelLoadFailed,           // a = path, b = reason
    InferenceFailed,           // a = reason
    UnsupportedConfiguration,  // a = detail
    Other,                     // a = message
  };
  Kind kind = Kind::Other;
  std::string a;
  std::string b;

  static AdapterError not_installed(std::string binary, std::string hint) {
    return {Kind::NotInstalled, std::move(binary), std::move(hint)};
  }
  static AdapterError initialization_failed(std::string reason) {
    return {Kind::InitializationFailed, std::move(reason), {}};
  }
  static AdapterError model_load_failed(std::string path, std::string reason) {
    return {Kind::ModelLoadFailed, std::move(path), std::move(reason)};
  }
  static AdapterError inference_failed(std::string reason) {
    return {Kind::InferenceFailed, std::move(reason), {}};
  }
  static AdapterError unsupported(std::string detail) {
    return {Kind::UnsupportedConfiguration, std::move(detail), {}};
  }

  // The text a user sees.
  std::string text() const;
  bool operator==(const AdapterError&) const = default;
};

class Error {
 public:
  explicit Error(std::string message) : message_(std::move(message)) {}
  explicit Error(AdapterError adapter) : message_(adapter.text()), adapter_(std::move(adapter)) {}

  // `context` in front of `cause`.
  static Error wrap(Error cause, std::string context);

  const std::string& message() const { return message_; }
  const Error* cause() const { return cause_.get(); }
  // The AdapterError held at this level of the chain, if any.
  const AdapterError* adapter_error() const { return adapter_ ? &*adapter_ : nullptr; }
  // The first AdapterError found walking from the outermost level inwards.
  const AdapterError* find_adapter_error() const;
  // Every message of the chain joined by ": ".
  std::string full_message() const;

 private:
  std::string message_;
  std::shared_ptr<const Error> cause_;  // errors are copied freely
  std::optional<AdapterError> adapter_;
};

template <class T>
using Expected = std::expected<T, Error>;
using Status = std::expected<void, Error>;

inline std::unexpected<Error> fail(std::string message) {
  return std::unexpected(Error(std::move(message)));
}
inline std::unexpected<Error> fail(AdapterError e) { return std::unexpected(Error(std::move(e))); }
inline std::unexpected<Error> fail_with(Error cause, std::string context) {
  return std::unexpected(Error::wrap(std::move(cause), std::move(context)));
}

// The C library's description of an errno value, then " (os error N)".
std::string system_error_text(int errnum);

}  // namespace bc
