#pragma once
// The framework's exceptions: an OS status with the call that failed, and the
// runtime error with a four-character code ('cfnr' "Nil CF reference").
#include "platform/core/FourCharCode.h"

#include <cstdint>
#include <stdexcept>
#include <string>

namespace PPx {

using OSStatus = int32_t;

constexpr OSStatus noErr = 0;
constexpr OSStatus eventNotHandledErr = -9874;
constexpr OSStatus paramErr = -50;
constexpr OSStatus fnfErr = -43;
constexpr OSStatus eofErr = -39;
constexpr OSStatus memFullErr = -108;
constexpr OSStatus mapReadErr = -199;
constexpr OSStatus resNotFound = -192;
constexpr OSStatus addResFailed = -194;

// A failed platform call: what() is the message naming the call
// ("GetControlByID failed"), Status() the status it returned. Failures of POSIX
// calls carry the errno value as status.
class OSError : public std::runtime_error {
public:
    OSError(OSStatus status, const std::string& message)
        : std::runtime_error(message), mStatus(status) {}
    OSStatus Status() const noexcept { return mStatus; }

private:
    OSStatus mStatus;
};

// The framework's runtime error: a four-character code and a text.
class RuntimeError : public std::runtime_error {
public:
    RuntimeError(FourCharCode code, const std::string& message)
        : std::runtime_error(message), mCode(code) {}
    FourCharCode Code() const noexcept { return mCode; }

private:
    FourCharCode mCode;
};

constexpr FourCharCode kNilCFReferenceError = 'cfnr';

// Raised where a platform string, data or date object cannot be made.
[[noreturn]] void ThrowNilCFReference();

} // namespace PPx
