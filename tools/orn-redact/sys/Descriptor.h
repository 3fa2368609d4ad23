#pragma once

#include <unistd.h>

namespace qiv::redact {

// Closes a descriptor the tool opened when it goes out of scope.
class OwnedDescriptor {
public:
    explicit OwnedDescriptor(int descriptor) : descriptor_(descriptor) {}
    ~OwnedDescriptor() {
        if (descriptor_ > STDERR_FILENO) {
            ::close(descriptor_);
        }
    }
    OwnedDescriptor(const OwnedDescriptor&) = delete;
    OwnedDescriptor& operator=(const OwnedDescriptor&) = delete;

private:
    int descriptor_;
};

}  // namespace qiv::redact
