#pragma once
// A worker that a window can ask to stop: Abort only sets the worker's
// abort event and returns at once; IsFinished never waits.

#include <string>

class CAbortable {
public:
    virtual ~CAbortable() = default;
    virtual std::string WorkerName() const = 0;
    virtual bool IsFinished() const = 0;
    virtual void Abort() = 0;
};
