#include "cli/common/system_calls.h"

#include <utility>

#include "cli/common/platform.h"

namespace trackloom::cli {

namespace {

SystemCalls SystemsOwn() {
  return {
      [](int fd, const void* data, size_t size) -> long long { return ::write(fd, data, size); },
      [](int fd) { return ::close(fd); }, ReplaceName, NewName};
}

SystemCalls& InUse() {
  static SystemCalls calls = SystemsOwn();
  return calls;
}

}  // namespace

const SystemCalls& Calls() { return InUse(); }

ScopedSystemCalls::ScopedSystemCalls(SystemCalls calls) : saved_(InUse()) {
  const SystemCalls own = SystemsOwn();
  InUse() = {calls.write ? std::move(calls.write) : own.write,
             calls.close ? std::move(calls.close) : own.close,
             calls.replace_name ? std::move(calls.replace_name) : own.replace_name,
             calls.new_name ? std::move(calls.new_name) : own.new_name};
}

ScopedSystemCalls::~ScopedSystemCalls() { InUse() = std::move(saved_); }

}  // namespace trackloom::cli
