#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/Geometry.h"

// The accessibility interface of the desktop: reading and writing other
// applications' user interfaces. Every request is a synchronous round trip to
// the target application, so callers bound their walks.

namespace nolari::platform {

class RunLoop;

using AXError = std::int32_t;

// The platform's error codes. Callers treat every code but `success` alike,
// except where a code is written into a message.
namespace AXErrorCode {
inline constexpr AXError success = 0;
inline constexpr AXError failure = -25200;
inline constexpr AXError illegalArgument = -25201;
inline constexpr AXError invalidUIElement = -25202;
inline constexpr AXError invalidUIElementObserver = -25203;
inline constexpr AXError cannotComplete = -25204;
inline constexpr AXError attributeUnsupported = -25205;
inline constexpr AXError actionUnsupported = -25206;
inline constexpr AXError notificationUnsupported = -25207;
inline constexpr AXError notImplemented = -25208;
inline constexpr AXError notificationAlreadyRegistered = -25209;
inline constexpr AXError notificationNotRegistered = -25210;
inline constexpr AXError apiDisabled = -25211;
inline constexpr AXError noValue = -25212;
inline constexpr AXError parameterizedAttributeUnsupported = -25213;
inline constexpr AXError notEnoughPrecision = -25214;
}  // namespace AXErrorCode

// What a backend keeps behind an element handle.
class AXElementRef {
 public:
  virtual ~AXElementRef() = default;
  // The platform's own equality: the same element, not equal contents.
  virtual bool isSameElement(const AXElementRef& other) const = 0;
};

// An opaque, reference-counted element handle; empty means no element.
class AXUIElement {
 public:
  AXUIElement() = default;
  explicit AXUIElement(std::shared_ptr<const AXElementRef> ref) : ref_(std::move(ref)) {}

  explicit operator bool() const { return ref_ != nullptr; }
  const AXElementRef* ref() const { return ref_.get(); }

  template <class T>
  const T* as() const {
    return dynamic_cast<const T*>(ref_.get());
  }

  friend bool operator==(const AXUIElement& a, const AXUIElement& b) {
    if (!a.ref_ || !b.ref_) return !a.ref_ && !b.ref_;
    return a.ref_ == b.ref_ || a.ref_->isSameElement(*b.ref_);
  }

 private:
  std::shared_ptr<const AXElementRef> ref_;
};

// A URL value; `absoluteString` is empty when the URL has no absolute form.
struct AXURL {
  std::string absoluteString;
  friend bool operator==(const AXURL&, const AXURL&) = default;
};

struct AXValue;
using AXArray = std::vector<AXValue>;

// An untyped attribute value as the platform hands it over. Numbers are one
// kind whatever their width; booleans are a kind of their own.
struct AXValue {
  using Storage = std::variant<std::string, double, bool, AXURL, AXUIElement, AXArray, Point, Size,
                               TextRange, Rect>;
  Storage storage;

  AXValue() = default;
  template <class T>
  requires std::is_constructible_v<Storage, T&&> &&
      (!std::is_same_v<std::remove_cvref_t<T>, AXValue>)AXValue(T&& v)
      : storage(std::forward<T>(v)) {}
  AXValue(const char* s) : storage(std::string(s)) {}
  AXValue(int n) : storage(static_cast<double>(n)) {}
  AXValue(long n) : storage(static_cast<double>(n)) {}

  template <class T>
  const T* get() const {
    return std::get_if<T>(&storage);
  }
};

// A per-application notification source. Dropping the last reference ends it.
class AXObserver {
 public:
  virtual ~AXObserver() = default;
};

// Called on the main run loop with the element the notification names.
using AXObserverCallback =
    std::function<void(const AXUIElement& element, const std::string& notification)>;

class Accessibility {
 public:
  virtual ~Accessibility() = default;

  // Whether this process may use the interface. With `prompt` the platform may
  // show its permission request; the call never waits for the user.
  virtual bool isProcessTrusted(bool prompt) = 0;

  virtual AXUIElement createSystemWide() = 0;
  // Always succeeds; reads through it fail once the process is gone.
  virtual AXUIElement createApplication(std::int32_t pid) = 0;

  virtual AXError copyAttributeValue(const AXUIElement& element, std::string_view attribute,
                                     AXValue& value) = 0;
  virtual AXError isAttributeSettable(const AXUIElement& element, std::string_view attribute,
                                      bool& settable) = 0;
  virtual AXError setAttributeValue(const AXUIElement& element, std::string_view attribute,
                                    const AXValue& value) = 0;
  virtual AXError copyParameterizedAttributeValue(const AXUIElement& element,
                                                  std::string_view attribute,
                                                  const AXValue& parameter, AXValue& value) = 0;
  // The deepest element at a top-left screen point.
  virtual AXError copyElementAtPosition(const AXUIElement& element, float x, float y,
                                        AXUIElement& found) = 0;
  virtual AXError getPid(const AXUIElement& element, std::int32_t& pid) = 0;
  // Applied to the system-wide element, it bounds every later request.
  virtual AXError setMessagingTimeout(const AXUIElement& element, float seconds) = 0;

  virtual AXError createObserver(std::int32_t pid, AXObserverCallback callback,
                                 std::shared_ptr<AXObserver>& observer) = 0;
  virtual AXError addNotification(AXObserver& observer, const AXUIElement& element,
                                  std::string_view notification) = 0;
  // Adds or removes the observer's run-loop source: notifications are delivered
  // only while it is scheduled, on that run loop's main queue.
  virtual void scheduleObserver(AXObserver& observer, RunLoop& runLoop) = 0;
  virtual void unscheduleObserver(AXObserver& observer) = 0;
};

}  // namespace nolari::platform
