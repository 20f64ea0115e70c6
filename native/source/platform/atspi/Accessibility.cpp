#include "platform/atspi/Accessibility.h"

#include <atspi/atspi.h>

#include <chrono>
#include <cmath>
#include <limits>
#include <string>
#include <utility>

#include "platform/atspi/AtspiInternal.h"
#include "platform/atspi/AtspiSession.h"

namespace nolari::platform {

namespace {

using atspi::Answer;
using atspi::failed;
using atspi::Kind;
using atspi::Ref;
using atspi::refOf;

// Runs one request on the session thread; an unreachable bus refuses it and
// a request that overruns its bound cannot complete.
template <class Work>
AXError request(Work work) {
  if (!AtspiSession::shared().connect()) return AXErrorCode::apiDisabled;
  auto error = std::make_shared<AXError>(AXErrorCode::cannotComplete);
  if (!AtspiSession::shared().run([error, work = std::move(work)] { *error = work(); })) {
    return AXErrorCode::cannotComplete;
  }
  return *error;
}

template <class Work>
Answer answer(Work work) {
  auto out = std::make_shared<Answer>();
  AXError error = request([out, work = std::move(work)] {
    *out = work();
    return out->error;
  });
  if (error) return failed(error);
  return std::move(*out);
}

}  // namespace

AtspiAccessibility::AtspiAccessibility(FrontmostProcess frontmost, ProcessAt processAt,
                                       std::shared_ptr<Keyboard> keyboard)
    : frontmost_(std::move(frontmost)),
      processAt_(std::move(processAt)),
      keyboard_(std::move(keyboard)),
      observers_(std::make_shared<Observers>()) {}

AtspiAccessibility::~AtspiAccessibility() = default;

bool AtspiAccessibility::isProcessTrusted(bool) { return AtspiSession::shared().connect(); }

AXUIElement AtspiAccessibility::createSystemWide() { return AtspiElementRef::systemWide(); }

AXUIElement AtspiAccessibility::createApplication(std::int32_t pid) {
  return AtspiElementRef::application(pid);
}

AXError AtspiAccessibility::copyAttributeValue(const AXUIElement& element,
                                               std::string_view attribute, AXValue& value) {
  if (!refOf(element)) return AXErrorCode::illegalArgument;
  Answer result = answer([element, name = std::string(attribute), frontmost = frontmost_] {
    return atspi::readAttribute(*refOf(element), name, frontmost);
  });
  if (result.error == AXErrorCode::success) value = std::move(result.value);
  return result.error;
}

AXError AtspiAccessibility::isAttributeSettable(const AXUIElement& element,
                                                std::string_view attribute, bool& settable) {
  if (!refOf(element)) return AXErrorCode::illegalArgument;
  if (attribute != "AXValue") {
    // Other attributes are read-only here; whether they exist is still told.
    AXValue ignored;
    AXError error = copyAttributeValue(element, attribute, ignored);
    if (error && error != AXErrorCode::noValue) return error;
    settable = false;
    return AXErrorCode::success;
  }
  Answer result = answer([element, withKeyboard = keyboard_ != nullptr] {
    return atspi::valueSettable(*refOf(element), withKeyboard);
  });
  if (result.error == AXErrorCode::success) settable = *result.value.get<bool>();
  return result.error;
}

AXError AtspiAccessibility::setAttributeValue(const AXUIElement& element,
                                              std::string_view attribute, const AXValue& value) {
  if (!refOf(element)) return AXErrorCode::illegalArgument;
  if (attribute != "AXValue") return AXErrorCode::attributeUnsupported;
  const auto* text = value.get<std::string>();
  if (!text) return AXErrorCode::illegalArgument;
  // The keyboard is held only while the work runs, so that it ends with this
  // object, on the caller's thread, and not on the session thread while the
  // process exits.
  std::weak_ptr<Keyboard> keyboard = keyboard_;
  return request([element, text = *text, frontmost = frontmost_, keyboard] {
    const auto typing = keyboard.lock();
    return atspi::writeValue(*refOf(element), text, frontmost, typing.get());
  });
}

AXError AtspiAccessibility::copyParameterizedAttributeValue(const AXUIElement& element,
                                                            std::string_view attribute,
                                                            const AXValue& parameter,
                                                            AXValue& value) {
  if (!refOf(element)) return AXErrorCode::illegalArgument;
  if (attribute != "AXBoundsForRange") return AXErrorCode::parameterizedAttributeUnsupported;
  const auto* range = parameter.get<TextRange>();
  if (!range || range->location < 0 || range->length < 0 ||
      range->length > std::numeric_limits<long>::max() - range->location) {
    return AXErrorCode::illegalArgument;
  }
  Answer result =
      answer([element, range = *range] { return atspi::boundsForRange(*refOf(element), range); });
  if (result.error == AXErrorCode::success) value = std::move(result.value);
  return result.error;
}

AXError AtspiAccessibility::copyElementAtPosition(const AXUIElement& element, float x, float y,
                                                  AXUIElement& found) {
  if (!refOf(element) || !std::isfinite(x) || !std::isfinite(y)) {
    return AXErrorCode::illegalArgument;
  }
  auto out = std::make_shared<AXUIElement>();
  AXError error = request([element, out, x, y, frontmost = frontmost_, processAt = processAt_] {
    return atspi::elementAt(*refOf(element), static_cast<gint>(std::lround(x)),
                            static_cast<gint>(std::lround(y)), *out, frontmost, processAt);
  });
  if (error == AXErrorCode::success) found = *out;
  return error;
}

AXError AtspiAccessibility::getPid(const AXUIElement& element, std::int32_t& pid) {
  const AtspiElementRef* ref = refOf(element);
  if (!ref || ref->kind == Kind::systemWide) return AXErrorCode::illegalArgument;
  auto out = std::make_shared<std::int32_t>(0);
  AXError error = request([element, out] {
    const AtspiElementRef& target = *refOf(element);
    if (target.kind == Kind::application) {
      Ref<AtspiAccessible> app(AtspiSession::shared().applicationOf(target.pid));
      if (!app) return AXErrorCode::invalidUIElement;
      *out = target.pid;
      return AXErrorCode::success;
    }
    *out = AtspiSession::shared().processOf(target.object);
    return *out > 0 ? AXErrorCode::success : AXErrorCode::invalidUIElement;
  });
  if (error == AXErrorCode::success) pid = *out;
  return error;
}

// The bus has one time-out for every request, so only the system-wide element
// sets it; zero restores the default.
AXError AtspiAccessibility::setMessagingTimeout(const AXUIElement& element, float seconds) {
  const AtspiElementRef* ref = refOf(element);
  if (!ref || !std::isfinite(seconds) || seconds < 0) return AXErrorCode::illegalArgument;
  if (ref->kind != Kind::systemWide) return AXErrorCode::notImplemented;
  if (!AtspiSession::shared().connect()) return AXErrorCode::apiDisabled;
  AtspiSession::shared().setRequestTimeout(
      std::chrono::milliseconds(static_cast<long>(std::lround(seconds * 1000))));
  return AXErrorCode::success;
}

}  // namespace nolari::platform
