#pragma once
// Base of the board modules: a board at a base address reached through a
// CVme the module does not own. A failed access sets the module's text to
// its label followed by the CVme text, and its status to the CVme status.

#include "daq/Vme.h"

#include <cstdint>
#include <string>

class CVmeModule {
public:
    CVmeModule(CVme& vme, uint32_t base) : m_vme(&vme), m_base(base) {}

    uint32_t BaseAddress() const { return m_base; }
    void SetBaseAddress(uint32_t base) { m_base = base; }
    int Status() const { return m_status; }
    const std::string& ErrorText() const { return m_errorText; }

protected:
    bool Rd16(const char* label, uint32_t offset, uint16_t& value);
    bool Wr16(const char* label, uint32_t offset, uint16_t value);
    bool Rd32(const char* label, uint32_t offset, uint32_t& value);
    bool Wr32(const char* label, uint32_t offset, uint32_t value);
    // Waits for the board to settle; see CVme::Pause.
    bool Settle(const char* label, int ms);
    // Reports a failure that is the module's own (a bad argument).
    bool Fail(const char* label, uint32_t code);

private:
    bool Result(const char* label, bool ok);

    CVme* m_vme;
    uint32_t m_base;
    int m_status = 0;
    std::string m_errorText;
};
