#pragma once
// Checks the argument texts of a command against its structure before it
// is encoded. CStructData::Encode takes any text (a word that names no enum
// item, or no number, becomes 0; high bits are dropped); what it would
// quietly change is refused here with the reason, so that wrong bytes never
// reach a crate. Accepted per field: an item name of the field's enum or a
// whole number (decimal, or 0x hexadecimal) that fits the field; float
// fields a decimal number; array fields up to count values separated by
// "," or ";"; bstr fields a text of at most count characters.
//
// Threads: plain functions; the structure is only read.

#include <string>
#include <vector>

class CStructData;
class CStructList;

// The command of that name: spelled exactly, else in any case; nullptr
// when there is none.
const CStructData* FindCommandNamed(const CStructList& commands, const std::string& name);

// One field's text; false with the reason in reason (such as "'TRB9' is
// neither a number nor a name of Device").
bool CheckArgument(const CStructData& command, int field, const std::string& text, std::string& reason);

// Every field's text, one text per field; false with a message naming the
// command and the argument ("Power: argument 1 (device): ...", or "Power
// takes 2 arguments: device on" for a wrong count).
bool CheckArguments(const CStructData& command, const std::vector<std::string>& texts, std::string& error);
