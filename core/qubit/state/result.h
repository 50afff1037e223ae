// What a gate or a measurement hands back: success with its value, or a failure that owns
// a short message. Argument faults are ordinary results; conditions that stop an operation
// are FatalError exceptions instead.
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace qubit {

struct Failure {
    std::string message;
};

template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : outcome_(std::in_place_index<0>, std::move(value)) {}
    Result(Failure failure) : outcome_(std::in_place_index<1>, std::move(failure)) {}

    bool ok() const noexcept { return outcome_.index() == 0; }
    T& value() { return std::get<0>(outcome_); }
    const T& value() const { return std::get<0>(outcome_); }
    const std::string& message() const { return std::get<1>(outcome_).message; }

private:
    std::variant<T, Failure> outcome_;
};

}  // namespace qubit
