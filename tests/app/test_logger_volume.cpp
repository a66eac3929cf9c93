// ms42k log over many rows: the window's record limit does not apply to the logger.
#include <gtest/gtest.h>

#include "logger_test_support.h"

namespace {
using namespace logger_test;

TEST_F(LoggerRun, WithoutLimitItRecordsBeyondTheWindowsTenThousandRows) {
    const QString frames = WriteFrames(Path(QStringLiteral("many.txt")), 10100, 8);
    const QString out = Path(QStringLiteral("many.csv"));
    Child child(dir_.path(), Tmp());
    child.Start({QStringLiteral("--frames"), frames, QStringLiteral("--out"), out});
    ASSERT_EQ(child.Finish(240), 0) << child.Err().toStdString();
    const Output o = ReadOutput(out, QLatin1Char(','));
    EXPECT_EQ(o.rows.size(), 10100u);
    EXPECT_TRUE(Consecutive(Numbers(o, 1), 1));
}

}  // namespace
