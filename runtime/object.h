// Runtime core: the root object and reference type every framework class shares, the
// framework's one string type, and the runtime error raised for fatal conditions.
// Depends on nothing. Keeps no state.
#pragma once

#include <memory>
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
