#pragma once
// The one exception family of the program. The message is the system's own
// text; callers that need to tell failures apart catch a subclass.
#include <QString>
#include <limits>
#include <stdexcept>
#include <type_traits>
#include <utility>
#include <string>

class EKvError : public std::runtime_error {
public:
  explicit EKvError(const QString &Text);
  explicit EKvError(const std::string &Text) : std::runtime_error(Text) {}
  explicit EKvError(const char *Text) : std::runtime_error(Text) {}
  // The message as the user sees it.
  QString Text() const { return QString::fromUtf8(what()); }
};

// The device or peer did not answer in time.
class EKvTimeout : public EKvError { using EKvError::EKvError; };
// An answer that does not belong to its request or breaks the framing.
class EKvProtocol : public EKvError { using EKvError::EKvError; };
// A file or image that does not follow its format; the text names the offset or line.
class EKvFormat : public EKvError { using EKvError::EKvError; };
// A value outside its type's range in a checked integer conversion.
class EKvRange : public EKvError { using EKvError::EKvError; };
// An internal consistency check failed; carries the unit in the message.
class EKvAssert : public EKvError { using EKvError::EKvError; };

// Throws EKvAssert with Text when Cond is false: for checks that input can break.
void KvCheck(bool Cond, const char *Text);

// Range-checked conversion between integer types: throws EKvRange.
template <typename To, typename From> To CheckedCast(From Value) {
  if (!std::in_range<To>(Value))
    throw EKvRange("range check error: " + std::to_string(Value));
  return static_cast<To>(Value);
}
