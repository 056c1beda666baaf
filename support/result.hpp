#pragma once
// A small expected-like result: the engine reports ordinary failures as
// values, never by throwing.

#include <cassert>
#include <string>
#include <utility>
#include <variant>

namespace support {

template <class E>
struct Err {
  E error;
};

template <class E>
Err<std::decay_t<E>> err(E&& e) {
  return Err<std::decay_t<E>>{std::forward<E>(e)};
}

template <class T, class E = std::string>
class [[nodiscard]] Result {
 public:
  Result(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT: implicit by design
  template <class E2>
  Result(Err<E2> e) : v_(std::in_place_index<1>, E(std::move(e.error))) {}  // NOLINT

  bool ok() const { return v_.index() == 0; }
  explicit operator bool() const { return ok(); }

  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  const E& error() const { return std::get<1>(v_); }
  E& error() { return std::get<1>(v_); }

 private:
  std::variant<T, E> v_;
};

// Result of an operation that yields nothing on success.
struct Unit {};

template <class E = std::string>
using Status = Result<Unit, E>;

inline Unit ok_unit() { return Unit{}; }

}  // namespace support
