#pragma once
// The program's string table: texts by number, as property names and
// descriptions are given ("Name\nDescription"). Windows add their strings
// once at start-up; lookups may come from any thread.

#include <initializer_list>
#include <string>
#include <utility>

void AddStrings(std::initializer_list<std::pair<int, const char*>> strings);
// The text of id; empty when there is none.
std::string LoadString(int id);
// The text before the first newline, and the text after it.
std::string StringName(const std::string& text);
std::string StringDescription(const std::string& text);
