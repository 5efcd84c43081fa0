#pragma once

namespace kelvarion {

// The outcome of one statement of a handler. Failures are ordinary values, never C++
// exceptions, so a statement that fails costs about what one that succeeds costs.
class [[nodiscard]] Status {
 public:
  static constexpr Status Ok() { return Status(true); }
  static constexpr Status Failed() { return Status(false); }
  constexpr bool ok() const { return ok_; }
  constexpr explicit operator bool() const { return ok_; }

 private:
  constexpr explicit Status(bool ok) : ok_(ok) {}
  bool ok_;
};

// The skip rule. A handler that runs under it passes each statement's Status here: a failed
// statement has already been abandoned where it failed, without assigning what it had not yet
// assigned, and execution simply goes on with the next statement. Returning the outcome lets a
// caller that wants to know (a test, a tool) still see it.
class SkipRule {
 public:
  constexpr bool operator()(Status s) const noexcept { return s.ok(); }
};

}  // namespace kelvarion
