#pragma once
// Common set-up: the simulated stand at power-on, reached through a CVme on
// logical device 5 (no driver library named).

#include "daq/Vme.h"
#include "sim/SimVmeStand.h"

#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

inline std::string BusErrorText(bool write, uint32_t address)
{
    char text[160];
    std::snprintf(text, sizeof text,
                  "CVme::%s(%X): Error 1\r\nVME bus error: no board answered at address 0x%X\r\n",
                  write ? "Write" : "Read", address, address);
    return text;
}

class VmeStandTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        unsetenv("TELVANE_VME_LIBRARY");
        Stand().PowerUp();
        ASSERT_TRUE(vme.Init(simvme::A24Device)) << vme.ErrorText();
    }
    void TearDown() override
    {
        vme.Close();
        Stand().PowerUp();
    }

    static CSimVmeStand& Stand() { return CSimVmeStand::Global(); }

    uint16_t Reg16(uint32_t address)
    {
        uint16_t value = 0;
        EXPECT_TRUE(vme.Read16(address, value)) << vme.ErrorText();
        return value;
    }

    CVme vme;
};
