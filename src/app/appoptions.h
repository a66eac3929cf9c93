#pragma once
#include <memory>
#include <string>

class HidBackend;

// What the command line may change about a window run. Empty: the window exactly as designed.
struct AppOptions {
    // HID backend to use instead of the system's (the simulated cable, a test double).
    std::shared_ptr<HidBackend> hidBackend;
    // Device path that stands for COM1 (e.g. /dev/ttyUSB0); empty: the platform default.
    std::string com1Path;
    // Working folder holding the record table file; empty: the current folder.
    std::string dataDir;
    // Empty record table copied into the working folder when it holds none; empty: the one
    // installed with the program (FindRecordTableTemplate).
    std::string tableTemplate;
    // Work in the user's own folder for the table and saved files (the desktop menu's start).
    bool userFolder = false;
};
