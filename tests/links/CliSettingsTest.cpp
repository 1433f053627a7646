// The --set options of telvane-cli send and can: one parser, one set of
// messages, option names and numbers alike.

#include "support/RunCommand.h"

#include <gtest/gtest.h>

namespace {

TEST(CliSettings, SendAndCanTreatSettingsAlike)
{
    if (TelvaneCli().empty())
        GTEST_SKIP() << "telvane-cli not built";
    struct Case {
        const char* command;
        const char* linkType;  // the --set that chooses the link kind
        const char* tail;      // what the command needs besides settings
    };
    const Case cases[] = {
        {"send", "IOType=\"TCP/IP Port\"", "--raw EA"},
        {"can", "CANIOType=\"CAN Port Node\"", "--id 1,2 01"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.command);
        const std::string cli = TelvaneCli() + " " + c.command + " ";
        const std::string kind = std::string(c.command) == "send" ? "crate" : "can";
        CommandResult r = RunCommand(cli + "--set " + c.linkType + " --set Bogus=1 " + c.tail + " 2>&1");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out.rfind("telvane-cli: unknown setting 'Bogus' (telvane-cli settings " + kind + " lists them)\n",
                              0),
                  0u)
            << r.out;

        r = RunCommand(cli + "--set " + c.linkType + " --set port=abc " + c.tail + " 2>&1");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out.rfind("telvane-cli: setting \"Port\" refused the value \"abc\" (number 0..65535)\n", 0), 0u)
            << "names in any case; a value that is no number is refused: " << r.out;

        r = RunCommand(cli + "--set Port " + c.tail + " 2>&1");
        EXPECT_EQ(r.status, 2);
        EXPECT_EQ(r.out.rfind("telvane-cli: --set: expected NAME=VALUE, got 'Port'\n", 0), 0u) << r.out;

        // A choice by its option name, then the port as a hexadecimal
        // number: the settings are taken and the open is what fails.
        r = RunCommand(cli + "--set " + c.linkType + " --set Host=127.0.0.1 --set Port=0x1 " + c.tail + " 2>&1");
        EXPECT_EQ(r.status, 1);
        EXPECT_NE(r.out.find("Open Error: ->"), std::string::npos) << r.out;
    }
}

}  // namespace
