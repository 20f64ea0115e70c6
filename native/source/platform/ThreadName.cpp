#include "platform/ThreadName.h"

#include <pthread.h>

#include <cstddef>

namespace nolari::platform {

void nameCurrentThread(const std::string& name) {
  constexpr std::size_t THREAD_NAME_MAX = 15;
  pthread_setname_np(pthread_self(), name.substr(0, THREAD_NAME_MAX).c_str());
}

}  // namespace nolari::platform
