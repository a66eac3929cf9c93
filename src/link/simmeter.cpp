#include "link/simmeter.h"

#include <QFile>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace {
// A reading frame as the meter sends it (the built-in test frame); the fields the program
// reads are overwritten.
const std::vector<uint8_t>& Template() {
    static const std::vector<uint8_t> bytes = [] {
        std::vector<uint8_t> b;
        HexToBytes(kTestFrameHex, b);
        return b;
    }();
    return bytes;
}

constexpr double kPi = 3.14159265358979323846;
constexpr int kMaxCounts = 3999;  // the meter's display holds 4000 counts

uint64_t Mix(uint64_t x) {
    x += 0x9E3779B97F4A7C15ull;
    x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
    x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
    return x ^ (x >> 31);
}
uint64_t Hash(uint32_t seed, uint64_t k, uint64_t salt) { return Mix(Mix(Mix(seed) ^ k) ^ salt); }

uint8_t SignedByte(int v) { return uint8_t(v < 0 ? v + 256 : v); }

const std::vector<SimScene> kScenes = {
    // mode coupling auto prefix base swing decimals waveform overload word
    {0, '0', true, ' ', 1.500, 0.800, 3, false, false, "V DC"},    // DC volts, auto range
    {0, '0', true, ' ', -5.12, 1.200, 2, false, false, "V DC"},    // negative DC volts
    {0, '1', true, ' ', 230.0, 1.500, 1, true, false, "V AC"},     // mains, with its trace
    {0, '0', false, 'm', 125.3, 20.00, 1, false, false, "mV DC"},  // millivolts, manual range
    {1, '0', true, 'm', 12.45, 2.000, 2, false, false, "mA DC"},   // milliamps
    {1, '1', false, ' ', 1.203, 0.150, 3, false, false, "A AC"},   // amps AC
    {1, '0', true, 'u', 250.0, 30.00, 1, false, false, "uA DC"},   // microamps
    {2, '0', true, ' ', 50.00, 0.300, 1, true, false, "Hz"},       // frequency, with its trace
    {2, '0', true, 'k', 2.013, 0.010, 3, false, false, "kHz"},     // kilohertz
    {2, '1', true, ' ', 49.80, 0.600, 1, false, false, "%"},       // duty cycle
    {3, '0', true, 'n', 22.00, 0.300, 2, false, false, "nF"},      // capacitance
    {3, '0', true, 'u', 2.200, 0.050, 3, false, false, "uF"},
    {4, '0', true, ' ', 220.0, 0.800, 1, false, false, "Ohm"},  // resistance
    {4, '0', true, 'k', 10.02, 0.040, 2, false, false, "kOhm"},
    {4, '0', true, 'M', 1.000, 0.004, 3, false, false, "MOhm"},
    {5, '0', false, ' ', 0.500, 0.300, 1, false, false, "Ohm"},  // continuity
    {6, '0', false, ' ', 0.612, 0.004, 3, false, false, "V"},    // diode
    {4, '0', true, 'M', 0.000, 0.000, 1, false, true, "MOhm"},   // open input: overload
};

// Five display characters (bytes 22-26) of a reading with `decimals` digits after the point.
std::string DisplayChars(int counts, int decimals) {
    std::string s = std::to_string(std::clamp(counts, 0, kMaxCounts));
    s.insert(0, 4 - s.size(), '0');
    if (decimals <= 0) return s + " ";
    s.insert(s.begin() + (4 - decimals), '.');
    return s;
}
}  // namespace

SimMeter::SimMeter(uint32_t seed) : seed_(seed) {}

const std::vector<SimScene>& SimMeter::Scenes() { return kScenes; }

void SimMeter::SetFramesPerScene(int frames) { framesPerScene_ = std::max(1, frames); }

const SimScene& SimMeter::SceneOf(uint64_t k) const {
    return kScenes[(k / uint64_t(framesPerScene_)) % kScenes.size()];
}

namespace {
struct Built {
    Frame frame;
    SimShown shown;
};

Built Build(const SimScene& sc, uint32_t seed, uint64_t k) {
    Built out;
    Frame& f = out.frame;
    f = Template();

    // The reading: a slow swing around the scene's centre plus a little noise in the last digit.
    std::string chars;
    bool negative = false;
    if (sc.overload) {
        chars = " 0.L ";
    } else {
        const double scale = std::pow(10.0, sc.decimals);
        const int noise = int(Hash(seed, k, 1) % 5) - 2;
        const double v = sc.base + sc.swing * std::sin(2 * kPi * double(k) / 37.0) + noise / scale;
        negative = v < 0;
        const int counts = std::min(kMaxCounts, int(std::lround(std::fabs(v) * scale)));
        chars = DisplayChars(counts, sc.decimals);
        if (counts == 0) negative = false;
    }
    f[6] = uint8_t(0x80 | sc.mode);
    f[10] = uint8_t(sc.coupling - '0');
    f[12] = 0;  // trace offset
    f[19] = sc.autoRange ? 1 : 0;
    f[21] = negative ? '-' : ' ';
    for (int i = 0; i < 5; ++i) f[22 + i] = uint8_t(chars[i]);
    f[27] = uint8_t(sc.prefix);
    // The meter's own symbol text, blank-padded up to the secondary reading's place.
    for (int i = 28; i < 31; ++i) f[i] = ' ';
    for (size_t i = 0; sc.word[i] && i < 3; ++i) f[28 + i] = uint8_t(sc.word[i]);

    SimShown& s = out.shown;
    s.valueText = (negative ? "-" : "") + (sc.decimals <= 0 && !sc.overload ? chars.substr(0, 4) : chars);
    if (sc.overload) s.valueText = " 0.L";
    const std::string prefix(1, sc.prefix);
    switch (sc.mode) {
        case 0: s.unitText = prefix == "V" ? "V" : prefix + "V"; break;
        case 1: s.unitText = prefix == "A" ? "uA" : prefix + "A"; break;
        case 2: s.unitText = sc.coupling == '1' ? "Duty" : prefix + "Hz"; break;
        case 3: s.unitText = prefix + "F"; break;
        case 4: s.unitText = prefix + "*"; break;
        case 5: s.unitText = prefix + "*&"; break;
        case 6: s.unitText = prefix + "V)"; break;
        default: s.unitText = prefix; break;
    }
    if (sc.mode <= 1) s.acDcText = sc.coupling == '0' ? "DC" : "AC";
    s.autoText = sc.autoRange ? "AUTO" : "";

    if (sc.waveform) {
        // 2.5 periods over the 160 points, drifting from frame to frame; each pair holds
        // the sample and the one half a step later, as the meter's min/max sampling does.
        s.waveform = true;
        f.resize(SimMeter::kWaveformFrameBytes, 0);
        const double amplitude = 42.0;
        const double phase = 0.35 * double(k);
        const int offset = f[12] <= 128 ? f[12] : f[12] - 256;
        for (int i = 0; i < SimMeter::kTracePoints; ++i) {
            const double t = 2 * kPi * 2.5 * i / SimMeter::kTracePoints + phase;
            const int a = int(std::lround(amplitude * std::sin(t)));
            const int b = int(std::lround(amplitude * std::sin(t + kPi * 2.5 / SimMeter::kTracePoints)));
            f[41 + 2 * i] = SignedByte(a);
            f[42 + 2 * i] = SignedByte(b);
            s.trace.push_back((a * a > b * b ? a : b) + offset);
        }
    }
    return out;
}
}  // namespace

Frame SimMeter::CycleFrame(uint64_t k) const { return Build(SceneOf(k), seed_, k).frame; }

SimShown SimMeter::CycleShown(uint64_t k) const { return Build(SceneOf(k), seed_, k).shown; }

void SimMeter::SetReplay(std::vector<Frame> frames) {
    replay_ = std::move(frames);
    sent_ = 0;
}

bool SimMeter::ReplayDone() const { return replay_ && sent_ >= replay_->size(); }

bool SimMeter::CorruptedAnswer(uint64_t n) const { return corruptEvery_ > 0 && (n + 1) % uint64_t(corruptEvery_) == 0; }

std::optional<Frame> SimMeter::Answer() {
    if (silent_) return std::nullopt;
    Frame f;
    if (replay_) {
        if (sent_ >= replay_->size()) return std::nullopt;
        f = (*replay_)[sent_];
    } else {
        f = CycleFrame(sent_);
    }
    if (CorruptedAnswer(sent_) && !f.empty()) {
        const uint64_t h = Hash(seed_, sent_, 2);
        const size_t pos = size_t(h % f.size());
        f[pos] ^= uint8_t(1 + (h >> 32) % 255);
    }
    ++sent_;
    return f;
}

std::optional<Frame> SimMeter::ParseHexLine(const std::string& line) {
    Frame f;
    int high = -1;
    for (char c : line) {
        if (c == ' ' || c == '\t' || c == '\r') {
            if (high >= 0) return std::nullopt;  // a blank inside a byte
            continue;
        }
        const int d = HexDigitValue(c);
        if (d < 0) return std::nullopt;
        if (high < 0) {
            high = d;
        } else {
            f.push_back(uint8_t(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0) return std::nullopt;
    return f;
}

std::optional<std::vector<Frame>> SimMeter::LoadHexLines(const QString& path, QString* error) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        if (error) *error = QStringLiteral("cannot read %1: %2").arg(path, file.errorString());
        return std::nullopt;
    }
    std::vector<Frame> frames;
    int lineNo = 0;
    while (!file.atEnd()) {
        std::string line = file.readLine().toStdString();
        ++lineNo;
        while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string::npos || line[first] == '#') continue;
        auto f = ParseHexLine(line);
        if (!f) {
            if (error) *error = QStringLiteral("%1:%2: not a line of hexadecimal byte pairs").arg(path).arg(lineNo);
            return std::nullopt;
        }
        frames.push_back(std::move(*f));
    }
    return frames;
}
