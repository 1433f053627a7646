#pragma once
// The crate link over the secondary bus: serial frames on a serial port
// (38400 baud, space parity); a board is chosen by an address frame sent
// with mark parity before its first frame, and again after 2 s or when
// another board is addressed. The time of the last selection is shared by
// every secondary link of the program.

#include "links/PortMC.h"
#include "ports/PortIO_Com.h"

#include <atomic>

class CPortMC_Sec : public CPortMC {
public:
    enum PropertyId : int32_t { kCcbId = 501 };
    static const _PROPDEF kProperties[];
    // A selection of the same board is reused while no more than this has passed.
    static constexpr int64_t kSelectionHoldMs = 2000;

    CPortMC_Sec();
    ~CPortMC_Sec() override;

    bool GetNextProperty(_PROPDEF& entry, bool restart) override;
    void ListProperties(PropertyList& out) override;
    bool GetProperty(int32_t id, CVariant& value) override;
    bool SetProperty(std::string_view name, const CVariant& value) override;
    bool SetPropertyById(int32_t id, const CVariant& value) override;
    bool SendFrame(const uint8_t* bytes, int count, int timeoutMs) override;
    bool ReceiveFrame(uint8_t* buffer, int& count, int timeoutMs) override;

    CPortIO_Com& Port() { return m_com; }

protected:
    void TakeCommandCcbid(int ccbid) override;

private:
    bool SelectBoard(uint16_t ccbid);

    CPortIO_Com m_com;
    std::atomic<uint16_t> m_ccbid{0};
    std::mutex m_selectLock;
    int32_t m_selected = -1;  // guarded by m_selectLock
};
