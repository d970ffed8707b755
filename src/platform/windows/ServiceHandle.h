// A handle of the service control manager (the manager itself or one service), closed when it
// goes out of scope.
#pragma once

#include "platform/windows/WindowsText.h"

namespace platform {

class ServiceHandle {
public:
    explicit ServiceHandle(SC_HANDLE handle) : handle(handle) {}
    ~ServiceHandle() { reset(nullptr); }
    ServiceHandle(const ServiceHandle &) = delete;
    ServiceHandle &operator=(const ServiceHandle &) = delete;

    SC_HANDLE get() const { return handle; }
    // Takes another handle in place of the one held, which is closed.
    void reset(SC_HANDLE other) {
        if (handle)
            CloseServiceHandle(handle);
        handle = other;
    }

private:
    SC_HANDLE handle;
};

} // namespace platform
