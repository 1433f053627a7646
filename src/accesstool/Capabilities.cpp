#include "accesstool/Capabilities.h"

#include <cerrno>
#include <cstdint>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
uint32_t Bit(int cap)
{
    return uint32_t(1) << (cap % 32);
}

__user_cap_header_struct Header()
{
    return {_LINUX_CAPABILITY_VERSION_3, 0};
}
} // namespace

bool CCapabilities::Load()
{
    auto header = Header();
    return syscall(SYS_capget, &header, data_) == 0;
}

bool CCapabilities::Store()
{
    auto header = Header();
    return syscall(SYS_capset, &header, data_) == 0;
}

bool CCapabilities::IsEffective(int cap) const
{
    return data_[cap / 32].effective & Bit(cap);
}

bool CCapabilities::IsPermitted(int cap) const
{
    return data_[cap / 32].permitted & Bit(cap);
}

void CCapabilities::SetEffective(int cap, bool on)
{
    if (on)
        data_[cap / 32].effective |= Bit(cap);
    else
        data_[cap / 32].effective &= ~Bit(cap);
}

bool EnableCapability(int cap)
{
    CCapabilities caps;
    if (!caps.Load())
        return false;
    if (caps.IsEffective(cap))
        return true;
    if (!caps.IsPermitted(cap)) {
        errno = EPERM;
        return false;
    }
    caps.SetEffective(cap, true);
    if (!caps.Store() || !caps.Load())
        return false;
    if (!caps.IsEffective(cap)) {
        errno = EPERM;
        return false;
    }
    return true;
}
