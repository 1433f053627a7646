#include "console/FifoWrList.h"

#include <algorithm>

void CFifoWrList::Add(int direction, Writer* writer)
{
    List& list = listOf(direction);
    std::lock_guard lock(list.lock);
    if (writer && std::find(list.writers.begin(), list.writers.end(), writer) == list.writers.end())
        list.writers.push_back(writer);
}

void CFifoWrList::Remove(int direction, Writer* writer)
{
    List& list = listOf(direction);
    std::lock_guard lock(list.lock);
    std::erase(list.writers, writer);
}

bool CFifoWrList::Contains(int direction, Writer* writer) const
{
    const List& list = listOf(direction);
    std::lock_guard lock(list.lock);
    return std::find(list.writers.begin(), list.writers.end(), writer) != list.writers.end();
}

void CFifoWrList::Post(const _MCDATA& record)
{
    List& list = listOf(record.direction);
    std::lock_guard lock(list.lock);
    for (Writer* w : list.writers)
        w->Write(record);
}
