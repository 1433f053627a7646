#include "accesstool/ToolOutput.h"

#include <cstring>

const char* CToolOutput::UsageText()
{
    return "USE: BRENLOCK [/s] [/d | /f] [/x | /n] [/i=<Mask>] <Mask> <Name> <Files> \r\n"
           "Add Access user name to files and folders\r\n"
           "<Name>\tAccess user name\r\n"
           "<Mask>\tObject mask. RWXDPO | N | A\r\n"
           "\tR=Read\r\n"
           "\tW=Write\r\n"
           "\tX=Execute\r\n"
           "\tD=Delete\r\n"
           "\tP=Mod.Protection\r\n"
           "\tO=Proprietary\r\n"
           "\tA=All Access\r\n"
           "\tN=Deny Access\r\n"
           "/i=<Mask>\tFolder inherit mask\r\n"
           "/s\tSubdir scan\r\n"
           "/d\tAdd access user  to the FOLDERS only\r\n"
           "/f\tAdd access user to the FILES only\r\n"
           "/x\tReplase only if Name already exist\r\n"
           "/n\tAdd if Name non exist\r\n";
}

void CToolOutput::Usage()
{
    Write(UsageText());
}

void CToolOutput::InvalidParam(std::string_view param)
{
    Write("Invalid param: " + std::string(param) + "\n");
}

void CToolOutput::FailEnable(std::string_view privilege)
{
    Write("Fail Enable " + std::string(privilege) + "\r\n");
}

void CToolOutput::VolumeUnsupported()
{
    // Scripts match this text, so it stays as it always was.
    Write("Disk not NTFS format\r\n");
}

void CToolOutput::Folder(std::string_view path)
{
    Write("[DIR] " + std::string(path) + "\r\n");
}

void CToolOutput::File(std::string_view path)
{
    Write(std::string(path) + "\r\n");
}

void CToolOutput::Error(std::string_view step, int errnum)
{
    Write(ErrorText(step, errnum));
}

void CToolOutput::Error(std::string_view step, int errnum, std::string_view message)
{
    Write(ErrorText(step, errnum, message));
}

std::string CToolOutput::ErrorText(std::string_view step, int errnum)
{
    return ErrorText(step, errnum, std::strerror(errnum));
}

std::string CToolOutput::ErrorText(std::string_view step, int errnum, std::string_view message)
{
    return std::string(step) + " error! (rc=" + std::to_string(static_cast<unsigned long>(errnum)) + ")\n" +
           std::string(message) + "\r\n";
}

void CToolOutput::Write(std::string_view text)
{
    std::fwrite(text.data(), 1, text.size(), stream_);
    std::fflush(stream_);
}
