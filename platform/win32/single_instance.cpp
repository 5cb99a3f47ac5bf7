#include "platform/win32/win32_parts.h"

#include "platform/win32/windows_api.h"

namespace glimmerly::platform::win32 {

namespace {

class MutexGuard : public InstanceGuard {
public:
    explicit MutexGuard(HANDLE mutex) : mutex_(mutex) {}
    ~MutexGuard() override {
        ::ReleaseMutex(mutex_);
        ::CloseHandle(mutex_);
    }
    MutexGuard(const MutexGuard&) = delete;
    MutexGuard& operator=(const MutexGuard&) = delete;

private:
    HANDLE mutex_;
};

} // namespace

std::unique_ptr<InstanceGuard> AcquireNamedMutex(const std::string& name) {
    HANDLE mutex = ::CreateMutexA(nullptr, TRUE, name.c_str());
    if (mutex == nullptr)
        return nullptr;
    if (::GetLastError() == ERROR_ALREADY_EXISTS) {
        ::CloseHandle(mutex);
        return nullptr;
    }
    return std::make_unique<MutexGuard>(mutex);
}

} // namespace glimmerly::platform::win32
