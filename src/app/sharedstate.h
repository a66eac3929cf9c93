#pragma once
// The program-wide working state kept beside the main window. Handlers hand data to each
// other only through these variables; all of them live on the GUI thread.
#include <cstdint>
#include <string>

class THidDevice;

struct SharedState {
    // Frame and decoded reading (8-bit texts).
    std::string FrameHex;
    std::string ValueText;
    std::string AcDcText;
    std::string SymbolText;
    std::string AutoText;
    float ValueNum = 0.0f;

    int32_t NoFrameTicks = 0;
    std::string SerialLine;

    // Scale constants (set by the start-up sequence).
    int32_t ScaleMax = 0;
    int32_t KdZero = 0;
    int32_t KdDivisions = 0;
    std::string KdScale;
    bool KdWideScale = false;
    int32_t BarFull = 0;

    // Gauge limits.
    float MaxLimit = 0.0f;
    float MinLimit = 0.0f;

    // Recording.
    int32_t RecordNo = 0;
    int32_t RecordLimit = 0;
    int32_t RecordsAppended = 0;
    int32_t SampleCountdown = 0;
    double RecallStamp = 0.0;  // date-time as floating days since 1899-12-30

    // Serial receive path.
    std::string SerialLoText;

    // HID burst assembly.
    std::string BurstText;
    bool BurstPending = false;
    int32_t FrameLen = 0;
    int32_t IdleReports = 0;
    int32_t IdleSinceRequest = 0;

    // Repeat suppression.
    std::string LastReadingKey;

    // Recall time stamp.
    int32_t RecallHour = 0;
    int32_t RecallMinute = 0;
    int32_t RecallSecond = 0;
    int32_t RecallInterval = 0;

    // Gauge needle and enlarge geometry.
    int32_t NeedleEndX = 0, NeedleEndY = 0, NeedleTipX = 0, NeedleTipY = 0;
    int32_t KdSaveWidth = 0, KdSaveHeight = 0, KdSaveTop = 0, KdSaveLeft = 0;
    int32_t ChtSaveWidth = 0, ChtSaveHeight = 0, ChtSaveTop = 0, ChtSaveLeft = 0;
};
