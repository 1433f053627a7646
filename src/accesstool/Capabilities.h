#pragma once
// The calling thread's capability sets, read and written with capget/capset.

#include <linux/capability.h>

class CCapabilities {
public:
    bool Load();  // false with errno
    bool Store(); // false with errno

    bool IsEffective(int cap) const;
    bool IsPermitted(int cap) const;
    void SetEffective(int cap, bool on);

private:
    __user_cap_data_struct data_[_LINUX_CAPABILITY_U32S_3] = {};
};

// Makes the capability effective when it is permitted; false (errno EPERM when
// it is not permitted) when it cannot be had.
bool EnableCapability(int cap);
