#include "core/AXReadCache.h"

#include <optional>

namespace nolari {

using platform::AXError;
using platform::AXUIElement;
using platform::AXValue;

namespace {

// Asked afresh every time: focus may move between two questions.
bool isVolatile(std::string_view attribute) { return attribute == "AXFocusedUIElement"; }

}  // namespace

AXReadCache::AXReadCache(std::unique_ptr<platform::Accessibility> inner)
    : inner_(std::move(inner)) {}

std::size_t AXReadCache::entryFor(const AXUIElement& element, Reach reach) {
  if (auto it = byRef_.find(element.ref()); it != byRef_.end()) return it->second;
  const auto matches = [&](std::size_t index) { return entries_[index].element == element; };
  std::optional<std::size_t> found;
  if (reach == Reach::anyElement) {
    for (std::size_t i = 0; i < entries_.size() && !found; ++i) {
      if (matches(i)) found = i;
    }
  } else {
    for (std::size_t i : reachedElsewhere_) {
      if (matches(i)) {
        found = i;
        break;
      }
    }
  }
  if (found) {
    aliases_.push_back(element);
    byRef_.emplace(element.ref(), *found);
    return *found;
  }
  entries_.push_back(Entry{element, {}, {}});
  const std::size_t index = entries_.size() - 1;
  byRef_.emplace(element.ref(), index);
  if (reach == Reach::anyElement) reachedElsewhere_.push_back(index);
  return index;
}

// Replaces element handles in a fresh answer by the ones already known for the
// same elements, so later requests find them by address.
void AXReadCache::canonicalize(AXValue& value) {
  if (auto* element = std::get_if<AXUIElement>(&value.storage); element && *element) {
    *element = entries_[entryFor(*element, Reach::anyElement)].element;
  } else if (auto* items = std::get_if<platform::AXArray>(&value.storage)) {
    for (auto& item : *items) {
      if (auto* child = std::get_if<AXUIElement>(&item.storage); child && *child) {
        *child = entries_[entryFor(*child, Reach::reachedElsewhere)].element;
      }
    }
  }
}

bool AXReadCache::isProcessTrusted(bool prompt) { return inner_->isProcessTrusted(prompt); }

AXUIElement AXReadCache::createSystemWide() { return inner_->createSystemWide(); }

AXUIElement AXReadCache::createApplication(std::int32_t pid) {
  return inner_->createApplication(pid);
}

AXError AXReadCache::copyAttributeValue(const AXUIElement& element, std::string_view attribute,
                                        AXValue& value) {
  if (!element || isVolatile(attribute)) {
    return inner_->copyAttributeValue(element, attribute, value);
  }
  const std::size_t index = entryFor(element, Reach::anyElement);
  if (auto it = entries_[index].values.find(attribute); it != entries_[index].values.end()) {
    value = it->second.value;
    return it->second.error;
  }
  AXValue fresh;
  const AXError error = inner_->copyAttributeValue(element, attribute, fresh);
  if (error == platform::AXErrorCode::success) canonicalize(fresh);
  // `entries_` may have grown: index again rather than through a reference.
  entries_[index].values.emplace(std::string(attribute), Answer{error, fresh});
  if (error == platform::AXErrorCode::success) value = std::move(fresh);
  return error;
}

AXError AXReadCache::isAttributeSettable(const AXUIElement& element, std::string_view attribute,
                                         bool& settable) {
  if (!element) return inner_->isAttributeSettable(element, attribute, settable);
  Entry& entry = entries_[entryFor(element, Reach::anyElement)];
  if (auto it = entry.settable.find(attribute); it != entry.settable.end()) {
    settable = it->second.settable;
    return it->second.error;
  }
  bool answer = false;
  const AXError error = inner_->isAttributeSettable(element, attribute, answer);
  entry.settable.emplace(std::string(attribute), SettableAnswer{error, answer});
  settable = answer;
  return error;
}

AXError AXReadCache::setAttributeValue(const AXUIElement& element, std::string_view attribute,
                                       const AXValue& value) {
  if (element) {
    Entry& entry = entries_[entryFor(element, Reach::anyElement)];
    entry.values.clear();
    entry.settable.clear();
  }
  return inner_->setAttributeValue(element, attribute, value);
}

AXError AXReadCache::copyParameterizedAttributeValue(const AXUIElement& element,
                                                     std::string_view attribute,
                                                     const AXValue& parameter, AXValue& value) {
  return inner_->copyParameterizedAttributeValue(element, attribute, parameter, value);
}

AXError AXReadCache::copyElementAtPosition(const AXUIElement& element, float x, float y,
                                           AXUIElement& found) {
  return inner_->copyElementAtPosition(element, x, y, found);
}

AXError AXReadCache::getPid(const AXUIElement& element, std::int32_t& pid) {
  return inner_->getPid(element, pid);
}

AXError AXReadCache::setMessagingTimeout(const AXUIElement& element, float seconds) {
  return inner_->setMessagingTimeout(element, seconds);
}

AXError AXReadCache::createObserver(std::int32_t pid, platform::AXObserverCallback callback,
                                    std::shared_ptr<platform::AXObserver>& observer) {
  return inner_->createObserver(pid, std::move(callback), observer);
}

AXError AXReadCache::addNotification(platform::AXObserver& observer, const AXUIElement& element,
                                     std::string_view notification) {
  return inner_->addNotification(observer, element, notification);
}

void AXReadCache::scheduleObserver(platform::AXObserver& observer, platform::RunLoop& runLoop) {
  inner_->scheduleObserver(observer, runLoop);
}

void AXReadCache::unscheduleObserver(platform::AXObserver& observer) {
  inner_->unscheduleObserver(observer);
}

}  // namespace nolari
