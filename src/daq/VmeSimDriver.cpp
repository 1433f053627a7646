// The driver table of the built-in simulated VME stand.
#include "daq/VmeDriver.h"

#include "sim/SimVmeStand.h"

namespace {
CSimVmeStand& Stand() { return CSimVmeStand::Global(); }

const char* SimGenName(int unit, int logicalDevice, char* name, size_t size)
{
    return Stand().GenName(unit, logicalDevice, name, size);
}

bt_error_t SimOpen(bt_desc_t* handle, const char* name, int access)
{
    return Stand().Open(handle, name, access);
}

bt_error_t SimClose(bt_desc_t handle) { return Stand().Close(handle); }

bt_error_t SimSetInfo(bt_desc_t handle, int param, uint32_t value)
{
    return Stand().SetInfo(handle, param, value);
}

bt_error_t SimGetInfo(bt_desc_t handle, int param, uint32_t* value)
{
    return Stand().GetInfo(handle, param, value);
}

bt_error_t SimRead(bt_desc_t handle, void* data, uint32_t address, size_t length, size_t* done)
{
    return Stand().Read(handle, data, address, length, done);
}

bt_error_t SimWrite(bt_desc_t handle, const void* data, uint32_t address, size_t length,
                    size_t* done)
{
    return Stand().Write(handle, data, address, length, done);
}

bt_error_t SimIcbrInstall(bt_desc_t handle, int irqType, bt_icbr_t callback, void* param, uint32_t)
{
    return Stand().InstallIcbr(handle, irqType, callback, param);
}

bt_error_t SimIcbrRemove(bt_desc_t handle, int irqType, bt_icbr_t callback)
{
    return Stand().RemoveIcbr(handle, irqType, callback);
}

bt_error_t SimReset(bt_desc_t handle) { return Stand().ResetBus(handle); }

bt_error_t SimClrErr(bt_desc_t handle) { return Stand().ClearError(handle); }

char* SimStrError(bt_desc_t handle, bt_error_t status, const char* message, char* buffer,
                  size_t size)
{
    return Stand().StrError(handle, status, message, buffer, size);
}
}  // namespace

const BtFunctions& SimVmeDriverTable()
{
    static const BtFunctions table = [] {
        BtFunctions t;
        t.bt_gen_name = SimGenName;
        t.bt_open = SimOpen;
        t.bt_set_info = SimSetInfo;
        t.bt_get_info = SimGetInfo;
        t.bt_read = SimRead;
        t.bt_write = SimWrite;
        t.bt_icbr_install = SimIcbrInstall;
        t.bt_icbr_remove = SimIcbrRemove;
        t.bt_reset = SimReset;
        t.bt_clrerr = SimClrErr;
        t.bt_close = SimClose;
        t.bt_strerror = SimStrError;
        return t;
    }();
    return table;
}
