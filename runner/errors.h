// What the replacement editor throws. None of these ever crosses into the module
// except FilterError, which the raise-error service throws on the module's behalf,
// as the real editor does.
#pragma once

#include <stdexcept>
#include <string>

namespace trackloom::runner {

// Anything the editor itself cannot do: a module that does not load, a script line
// that does not name a function of the filter, a call out of order.
class Error : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A script line that does not parse; column is 1-based, counted in bytes.
class ScriptError : public Error {
 public:
  ScriptError(int column, const std::string& what)
      : Error("column " + std::to_string(column) + ": " + what), column_(column) {}
  int column() const { return column_; }

 private:
  int column_;
};

// A message the module passed to the raise-error service, thrown from that service
// when the editor is in throwing mode.
class FilterError : public Error {
 public:
  using Error::Error;
};

}  // namespace trackloom::runner
