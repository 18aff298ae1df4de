#pragma once

#include <optional>
#include <string>
#include <utility>

namespace torvane {

// What the operator typed, either accepted as a value or refused with the text to show.
template <typename Value>
struct ValidationResult {
    static ValidationResult Accepted(Value value) { return {std::move(value), {}}; }
    static ValidationResult Refused(std::string error) { return {std::nullopt, std::move(error)}; }

    explicit operator bool() const { return value.has_value(); }

    std::optional<Value> value;
    std::string error;
};

}  // namespace torvane
