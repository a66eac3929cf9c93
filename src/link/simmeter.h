#pragma once
// A simulated MS42K meter: answers each request with its next frame. It cycles through
// realistic readings of every measuring mode (41-byte frames) and sends 361-byte frames
// with a sine trace in its scope scenes; it can instead replay frames from a file of hex
// lines, go silent, or corrupt a byte now and then.
#include <QString>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "meter/meterframe.h"

using Frame = std::vector<uint8_t>;

// What the meter shows for one frame, in the program's terms (as a decoded row holds it).
struct SimShown {
    std::string valueText;   // the reading as the LCD shows it, sign and point included
    std::string unitText;    // unit text in the LCD segment font's code
    std::string acDcText;    // "AC", "DC" or empty
    std::string autoText;    // "AUTO" or empty
    bool waveform = false;   // a 361-byte frame with a trace
    std::vector<int> trace;  // the 160 trace points (sample of larger magnitude + offset)
};

// One line of the readings cycle: a measuring situation the meter passes through.
struct SimScene {
    int mode;       // measuring mode 0-6
    char coupling;  // low digit of byte 10: '0' DC, '1' AC (mode 2: '1' duty cycle)
    bool autoRange;
    char prefix;       // range prefix character (byte 27), ' ' for none
    double base;       // centre of the reading, in display units
    double swing;      // amplitude of its slow variation
    int decimals;      // digits after the point (0-3); 0: no point
    bool waveform;     // sends 361-byte frames with a trace
    bool overload;     // shows "0.L"
    const char* word;  // the meter's own symbol text (bytes 28 on)
};

class SimMeter {
public:
    static constexpr size_t kReadingFrameBytes = ::kReadingFrameBytes;
    static constexpr size_t kWaveformFrameBytes = ::kWaveFrameBytes;
    static constexpr int kTracePoints = kWaveSamples;

    explicit SimMeter(uint32_t seed = 1);

    // The readings cycle and how many frames each scene lasts.
    static const std::vector<SimScene>& Scenes();
    void SetFramesPerScene(int frames);
    int FramesPerScene() const { return framesPerScene_; }

    // Frame k of the cycle (deterministic for a seed) and what it shows.
    Frame CycleFrame(uint64_t k) const;
    SimShown CycleShown(uint64_t k) const;
    const SimScene& SceneOf(uint64_t k) const;

    // Replay: the meter answers with these frames in order and then stays quiet.
    void SetReplay(std::vector<Frame> frames);
    // Reads a file of hex lines: one frame per line, bytes as hex digit pairs (blanks
    // between them allowed); empty lines and lines starting with '#' are skipped.
    // Returns nothing and sets `error` when the file cannot be read or a line is not hex.
    static std::optional<std::vector<Frame>> LoadHexLines(const QString& path, QString* error);
    static std::optional<Frame> ParseHexLine(const std::string& line);

    // A silent meter answers nothing.
    void SetSilent(bool silent) { silent_ = silent; }
    // Every n-th answered frame (n >= 1) gets one byte changed; 0 turns corruption off.
    void SetCorruptEvery(int n) { corruptEvery_ = n < 0 ? 0 : n; }

    // The answer to one request: the next frame, or nothing (silent, replay used up).
    std::optional<Frame> Answer();
    // Frames answered so far.
    uint64_t FramesSent() const { return sent_; }
    // True when a replay has sent its last frame.
    bool ReplayDone() const;
    // Whether the n-th answered frame (counted from 0) was corrupted.
    bool CorruptedAnswer(uint64_t n) const;

private:
    uint32_t seed_;
    int framesPerScene_ = 8;
    bool silent_ = false;
    int corruptEvery_ = 0;
    uint64_t sent_ = 0;
    std::optional<std::vector<Frame>> replay_;
};
