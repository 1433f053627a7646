#pragma once
// telvane-sim's options for the simulated VME stand and the DAQ server that
// serves it: trigger rate, missed triggers, event size and ROS data.

#include "sim/SimVmeStand.h"

extern const char kSimVmeUsage[];

struct SimVmeConfig {
    // The DAQ server's port; -1: no DAQ server.
    int daqPort = -1;
    // Triggers per second after each arming, rounded to the stand's 1 ms
    // steps (0, or above 2000: at once); -1: the stand's own delay of 1 ms.
    int triggerRateHz = -1;
    int missTriggers = 0;
    int missEvery = 0;
    int eventRecords = 1;
    int rosItems = 0;
    bool ros = true;
};

// Takes argv[i] (and its value, moving i on) when it is a VME option.
// 1: taken; 0: not a VME option; -1: a VME option with a bad or missing value.
int ParseSimVmeOption(int argc, char** argv, int& i, SimVmeConfig& config);

// Sets the stand up as the options say.
void ApplySimVmeConfig(const SimVmeConfig& config, CSimVmeStand& stand);
