#pragma once
// Each open link holds a handful of descriptors (its port, events and
// poll sets), so a program that drives dozens of crates at once needs more
// than the usual soft limit of 1024.

// Raises the soft limit on open descriptors to the hard limit; false (with
// the last error) when the system refuses. Called once at program start.
bool RaiseOpenFileLimit();
