#include "engine/platform.h"

#include <mutex>
#include <utility>

namespace kelvara::paradox::platform {
namespace {

std::mutex& HookMutex() {
    static std::mutex mutex;
    return mutex;
}

std::function<void(const char*)>& Hook() {
    static std::function<void(const char*)> hook;
    return hook;
}

} // namespace

void SetFailurePointHook(std::function<void(const char* operation)> hook) {
    const std::lock_guard lock(HookMutex());
    Hook() = std::move(hook);
}

void FailurePoint(const char* operation) {
    std::function<void(const char*)> hook;
    {
        const std::lock_guard lock(HookMutex());
        hook = Hook();
    }
    if (hook) {
        hook(operation);
    }
}

} // namespace kelvara::paradox::platform
