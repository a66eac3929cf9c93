#pragma once
// The record table over a Paradox table file (engine to be filled in).
#include <string>

class RecordTable {
public:
    RecordTable() = default;
    void Close() {}
    bool IsOpen() const { return false; }
};
