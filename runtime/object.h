// Runtime core: the root object and reference type every framework class shares, the
// framework's one string type, the runtime error raised for fatal conditions and the one
// failure raised when memory runs out.
// Depends on nothing. Keeps no state.
#pragma once

#include <memory>
#include <new>  // for std::bad_alloc
#include <stdexcept>
#include <string>

// Texts are sequences of 16-bit characters everywhere in the framework. Files carry one
// byte per character (see runtime/text.h); only the console encodes UTF-8.
using String = std::u16string;

// Objects are shared by reference counting and released when the last reference goes.
template <class T>
using Ref = std::shared_ptr<T>;

// Root of every framework class that travels as "an object" (hook data, event sources,
// URLs, exceptions with a text).
class Object {
 public:
  virtual ~Object() = default;
  // Text form of the object; the root gives an empty text.
  virtual String ToString() const { return String(); }
};

// A text carried where an object is expected (a URL given as a path, an event's extra).
class TStringObject : public Object {
 public:
  explicit TStringObject(String value) : text(std::move(value)) {}
  String ToString() const override { return text; }
  String text;
};

// A fatal runtime condition with a message, e.g. "Unable to calculate tex size".
class TRuntimeError : public std::runtime_error {
 public:
  explicit TRuntimeError(const std::string& message) : std::runtime_error(message) {}
};

// Memory ran out. The one failure type for "no memory" across the program: it is a
// std::bad_alloc, so a single handler for std::bad_alloc sees both the standard library's
// failures and ours; ours also says what could not be had ("Unable to allocate pixmap
// memory (4096 x 4096)").
class TOutOfMemoryError : public std::bad_alloc {
 public:
  explicit TOutOfMemoryError(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};
