#pragma once
// Exception classes for the failures the library reports by raising.
#include <stdexcept>
#include <string>

namespace orvelle {

// A bad index, count or capacity given to one of the edit lists.
class EListError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

// The message every edit list uses for a bad index, count or capacity.
inline constexpr const char* SListIndexError = "List index out of bounds";

// Assign between objects of classes that cannot take each other's contents.
class EAssignError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// Integer division by zero.
class EDivByZero : public std::runtime_error {
public:
    EDivByZero() : std::runtime_error("Division by zero") { }
};

// An integer result that does not fit its type.
class EIntOverflow : public std::runtime_error {
public:
    EIntOverflow() : std::runtime_error("Integer overflow") { }
};

// Floating-point division by zero.
class EZeroDivide : public std::runtime_error {
public:
    EZeroDivide() : std::runtime_error("Floating point division by zero") { }
};

// Floating-point argument outside the function's domain.
class EInvalidOp : public std::runtime_error {
public:
    EInvalidOp() : std::runtime_error("Invalid floating point operation") { }
};

} // namespace orvelle
