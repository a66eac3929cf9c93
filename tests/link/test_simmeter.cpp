// The simulated meter: frames of every mode, waveform frames, replay, silence, corruption.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <set>

#include "link/simmeter.h"

namespace {

int Signed(uint8_t b) { return b <= 128 ? b : b - 256; }

// One full pass through the readings cycle.
uint64_t CycleLength(const SimMeter& m) { return uint64_t(m.FramesPerScene()) * SimMeter::Scenes().size(); }

TEST(SimMeterCycle, FramesHaveTheMeterLayout) {
    SimMeter m(7);
    for (uint64_t k = 0; k < CycleLength(m); ++k) {
        const Frame f = m.CycleFrame(k);
        const SimScene& sc = m.SceneOf(k);
        ASSERT_EQ(f.size(), sc.waveform ? SimMeter::kWaveformFrameBytes : SimMeter::kReadingFrameBytes) << k;
        EXPECT_EQ(f[0], 0x5A) << k;
        EXPECT_EQ(f[6] & 0x0F, sc.mode) << k;
        EXPECT_EQ(f[10] & 0x0F, sc.coupling - '0') << k;
        EXPECT_EQ(f[19], sc.autoRange ? 1 : 0) << k;
        EXPECT_EQ(f[27], uint8_t(sc.prefix)) << k;
        // Only the start byte is 0x5A in the reading part.
        for (size_t i = 1; i < SimMeter::kReadingFrameBytes; ++i) EXPECT_NE(f[i], 0x5A) << k << " byte " << i;
    }
}

TEST(SimMeterCycle, CoversEveryModeCouplingAndOverload) {
    SimMeter m(1);
    std::set<int> modes;
    bool ac = false, dc = false, duty = false, overload = false, autoRange = false, manual = false, negative = false,
         wave = false;
    for (uint64_t k = 0; k < CycleLength(m); ++k) {
        const SimScene& sc = m.SceneOf(k);
        const SimShown s = m.CycleShown(k);
        modes.insert(sc.mode);
        ac |= s.acDcText == "AC";
        dc |= s.acDcText == "DC";
        duty |= s.unitText == "Duty";
        overload |= sc.overload;
        autoRange |= s.autoText == "AUTO";
        manual |= s.autoText.empty();
        negative |= !s.valueText.empty() && s.valueText[0] == '-';
        wave |= s.waveform;
    }
    EXPECT_EQ(modes, (std::set<int>{0, 1, 2, 3, 4, 5, 6}));
    EXPECT_TRUE(ac && dc && duty && overload && autoRange && manual && negative && wave);
}

TEST(SimMeterCycle, ReadingsStayWithinTheDisplayAndMove) {
    SimMeter m(3);
    for (size_t scene = 0; scene < SimMeter::Scenes().size(); ++scene) {
        std::set<std::string> values;
        for (int i = 0; i < m.FramesPerScene(); ++i) {
            const uint64_t k = scene * uint64_t(m.FramesPerScene()) + uint64_t(i);
            const Frame f = m.CycleFrame(k);
            const SimShown s = m.CycleShown(k);
            values.insert(s.valueText);
            if (m.SceneOf(k).overload) {
                EXPECT_EQ(s.valueText, " 0.L") << k;
                continue;
            }
            // Four digits and at most one point, as the display characters of the frame hold them.
            std::string digits;
            int points = 0;
            for (int b = 22; b <= 26; ++b) {
                if (f[b] == '.')
                    ++points;
                else if (f[b] >= '0' && f[b] <= '9')
                    digits += char(f[b]);
            }
            EXPECT_EQ(digits.size(), 4u) << k;
            EXPECT_LE(points, 1) << k;
            EXPECT_LE(std::stoi(digits), 3999) << k;
            EXPECT_EQ(f[21] == '-', s.valueText[0] == '-') << k;
        }
        if (!SimMeter::Scenes()[scene].overload && SimMeter::Scenes()[scene].swing > 0) {
            EXPECT_GT(values.size(), 1u) << "scene " << scene << " shows a steady reading";
        }
    }
}

TEST(SimMeterCycle, WaveformFramesCarryASineTrace) {
    SimMeter m(1);
    int frames = 0;
    for (uint64_t k = 0; k < CycleLength(m); ++k) {
        const SimShown s = m.CycleShown(k);
        if (!s.waveform) continue;
        ++frames;
        const Frame f = m.CycleFrame(k);
        ASSERT_EQ(s.trace.size(), size_t(SimMeter::kTracePoints));
        int crossings = 0, lo = 1000, hi = -1000;
        for (int i = 0; i < SimMeter::kTracePoints; ++i) {
            const int a = Signed(f[41 + 2 * i]), b = Signed(f[42 + 2 * i]);
            EXPECT_EQ(s.trace[i], (a * a > b * b ? a : b) + Signed(f[12])) << k << " point " << i;
            lo = std::min(lo, s.trace[i]);
            hi = std::max(hi, s.trace[i]);
            if (i > 0 && (s.trace[i - 1] < 0) != (s.trace[i] < 0)) ++crossings;
        }
        // 2.5 periods: four or five zero crossings, a swing well inside the chart's -61..60.
        EXPECT_GE(crossings, 4) << k;
        EXPECT_LE(crossings, 6) << k;
        EXPECT_GE(lo, -61) << k;
        EXPECT_LE(hi, 60) << k;
        EXPECT_GT(hi - lo, 60) << k;
    }
    EXPECT_GT(frames, 0);
}

TEST(SimMeterCycle, SameSeedSameFramesOtherSeedOtherNoise) {
    SimMeter a(5), b(5), c(6);
    bool differs = false;
    for (uint64_t k = 0; k < CycleLength(a); ++k) {
        EXPECT_EQ(a.CycleFrame(k), b.CycleFrame(k)) << k;
        differs |= a.CycleFrame(k) != c.CycleFrame(k);
    }
    EXPECT_TRUE(differs);
}

TEST(SimMeterAnswer, AnswersFollowTheCycle) {
    SimMeter m(2);
    for (uint64_t k = 0; k < 30; ++k) {
        auto f = m.Answer();
        ASSERT_TRUE(f.has_value());
        EXPECT_EQ(*f, m.CycleFrame(k)) << k;
    }
    EXPECT_EQ(m.FramesSent(), 30u);
}

TEST(SimMeterAnswer, SilentMeterAnswersNothingAndResumesWhereItStopped) {
    SimMeter m(2);
    m.Answer();
    m.SetSilent(true);
    for (int i = 0; i < 5; ++i) EXPECT_FALSE(m.Answer().has_value());
    m.SetSilent(false);
    EXPECT_EQ(m.Answer(), m.CycleFrame(1));
}

TEST(SimMeterAnswer, CorruptionChangesOneByteOfEveryNthFrame) {
    SimMeter m(9);
    m.SetCorruptEvery(3);
    int corrupted = 0;
    for (uint64_t k = 0; k < 60; ++k) {
        const Frame f = *m.Answer();
        const Frame clean = m.CycleFrame(k);
        ASSERT_EQ(f.size(), clean.size());
        int diff = 0;
        for (size_t i = 0; i < f.size(); ++i) diff += f[i] != clean[i];
        EXPECT_EQ(diff, m.CorruptedAnswer(k) ? 1 : 0) << k;
        EXPECT_EQ(m.CorruptedAnswer(k), (k + 1) % 3 == 0) << k;
        corrupted += diff;
    }
    EXPECT_EQ(corrupted, 20);
}

TEST(SimMeterReplay, AnswersTheFramesInOrderThenNothing) {
    SimMeter m(1);
    const std::vector<Frame> frames = {{0x5A, 1, 2}, {0x5A, 3}, {0x10}};
    m.SetReplay(frames);
    EXPECT_FALSE(m.ReplayDone());
    for (const auto& f : frames) EXPECT_EQ(m.Answer(), f);
    EXPECT_TRUE(m.ReplayDone());
    EXPECT_FALSE(m.Answer().has_value());
}

struct HexLineCase {
    const char* name;
    std::string line;
    bool ok;
    Frame bytes;
};

TEST(SimMeterReplay, HexLines) {
    const std::vector<HexLineCase> cases = {
        {"packed", "5A00FF", true, {0x5A, 0x00, 0xFF}},
        {"lower case", "5a0aff", true, {0x5A, 0x0A, 0xFF}},
        {"blanks between bytes", "5A 00\tFF ", true, {0x5A, 0x00, 0xFF}},
        {"carriage return", "5A00\r", true, {0x5A, 0x00}},
        {"odd digit count", "5A0", false, {}},
        {"blank inside a byte", "5 A00", false, {}},
        {"not hex", "5AZZ", false, {}},
        {"separator", "5A,00", false, {}},
    };
    for (const auto& c : cases) {
        auto f = SimMeter::ParseHexLine(c.line);
        EXPECT_EQ(f.has_value(), c.ok) << c.name;
        if (c.ok && f) {
            EXPECT_EQ(*f, c.bytes) << c.name;
        }
    }
}

TEST(SimMeterReplay, FileOfHexLines) {
    QTemporaryDir dir;
    ASSERT_TRUE(dir.isValid());
    const QString good = dir.filePath("good.txt");
    {
        QFile f(good);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("# frames\r\n5A0102\r\n\r\n   \n5a 03\n  # indented comment\n04");
    }
    QString error;
    auto frames = SimMeter::LoadHexLines(good, &error);
    ASSERT_TRUE(frames.has_value()) << error.toStdString();
    EXPECT_EQ(*frames, (std::vector<Frame>{{0x5A, 1, 2}, {0x5A, 3}, {4}}));

    const QString bad = dir.filePath("bad.txt");
    {
        QFile f(bad);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("5A00\n\nnot hex\n");
    }
    EXPECT_FALSE(SimMeter::LoadHexLines(bad, &error).has_value());
    EXPECT_TRUE(error.contains(":3:")) << error.toStdString();

    EXPECT_FALSE(SimMeter::LoadHexLines(dir.filePath("missing.txt"), &error).has_value());
    EXPECT_TRUE(error.contains("missing.txt")) << error.toStdString();
}

}  // namespace
