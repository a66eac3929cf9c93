#include "link/cablelink.h"

#include <algorithm>
#include <cstring>

namespace cable {

std::string HexText(const uint8_t* bytes, size_t count) { return BytesToHex(bytes, count); }

std::string HexBytesLine(const uint8_t* bytes, size_t count) {
    std::string out;
    out.reserve(count * 3);
    for (size_t i = 0; i < count; ++i) {
        AppendHexByte(out, bytes[i]);
        out.push_back(' ');
    }
    return out;
}

std::string ReportLine(uint8_t reportId, const uint8_t* data, uint16_t size) {
    std::string line = "R ";
    AppendHexByte(line, reportId);
    line += "  ";
    line += HexBytesLine(data, size);
    return line;
}

ReportOutcome HandleInputReport(CableVars v, uint8_t reportId, const uint8_t* data, uint16_t size) {
    ReportOutcome out;
    // The count is the low nibble of the report's first byte; the meter bytes follow it.
    if (size >= 1) {
        ++v.IdleReports;
        ++v.IdleSinceRequest;
    }
    const int count = size >= 1 ? (data[0] & 0x0F) : 0;
    if (count >= 1 && count <= 9) {
        v.IdleReports = 0;
        v.IdleSinceRequest = 0;
        v.BurstPending = true;
        out.meterData = true;
        out.line = ReportLine(reportId, data, size);  // for the log only
        // A burst already longer than the longest frame can never make one: like the frame
        // text, it is not grown further, so a stream of reports that all carry meter data
        // cannot fill memory. (It stays too long to pass for a frame.)
        if (v.BurstText.size() > kWaveFrameChars) return out;
        // Meter bytes 1..count; bytes the report lacks add nothing.
        const int n = std::min<int>(count, size - 1);
        for (int b = 1; b <= n; ++b) AppendHexByte(v.BurstText, data[b]);
        return out;
    }
    if (v.BurstPending) {
        out.burstEnded = true;
        out.burst = v.BurstText;
        if (v.BurstText.compare(0, 2, "5A") == 0) {
            out.newFrame = true;
            v.FrameHex = v.BurstText;
            v.FrameLen = int32_t(v.BurstText.size());
        } else {
            // A text already longer than the longest frame can never become complete again;
            // it is not grown further, so a stream without frame starts cannot fill memory.
            if (v.FrameHex.size() <= kWaveFrameChars) {
                v.FrameHex += v.BurstText;
                out.appended = true;
            }
            v.FrameLen += int32_t(v.BurstText.size());
        }
        out.frameComplete = IsCompleteFrame(v.FrameHex);
        v.BurstText.clear();
    }
    v.BurstPending = false;
    return out;
}

WatchdogOutcome WatchdogTick(int32_t& noFrameTicks, int32_t& idleSinceRequest, int32_t& idleReports) {
    WatchdogOutcome out;
    if (noFrameTicks != kTicksBeforeCheck) {
        ++noFrameTicks;
        return out;
    }
    out.checked = true;
    if (idleSinceRequest >= kIdleReportsResend) {
        out.resendRequest = true;
        idleSinceRequest = 0;
    }
    if (idleReports >= kIdleReportsGiveUp) {
        out.giveUp = true;
        idleReports = 0;
    }
    noFrameTicks = 0;
    return out;
}

std::array<uint8_t, kFeatureReportLength + 1> FeatureBuffer(bool b9600, bool b4800, bool b2400) {
    std::array<uint8_t, kFeatureReportLength + 1> buf{};
    buf[5] = 0x03;
    if (b9600) {
        buf[1] = 0x80;
        buf[2] = 0x25;
    }
    if (b4800) {
        buf[1] = 0xC0;
        buf[2] = 0x12;
    }
    if (b2400) {
        buf[1] = 0x60;
        buf[2] = 0x09;
    }
    return buf;
}

std::array<uint8_t, kFeatureReportLength + 1> FeatureBufferForBaud(int baud) {
    return FeatureBuffer(baud == 9600, baud == 4800, baud == 2400);
}

std::string FeatureLogLine(const std::array<uint8_t, kFeatureReportLength + 1>& buffer) {
    return HexBytesLine(buffer.data() + 1, kFeatureReportLength);
}

int BaudOfFeatureReport(const uint8_t* report, size_t length) {
    if (length < 3) return 0;
    const int baud = report[1] | (report[2] << 8);
    return (baud == 9600 || baud == 4800 || baud == 2400) ? baud : 0;
}

std::vector<uint8_t> RequestBuffer(size_t outputReportLength) {
    std::vector<uint8_t> buf(std::max(kRequestBufferSize, outputReportLength + 1), 0);
    buf[1] = 0x02;
    buf[2] = 0x5A;
    buf[3] = 0x00;
    return buf;
}

bool IsFrameRequest(const uint8_t* report, size_t length) {
    return length >= 3 && report[1] == 0x02 && report[2] == 0x5A;
}

std::string RequestLogLine(const std::vector<uint8_t>& buffer, size_t written) {
    if (buffer.size() <= 1) return {};
    const size_t n = std::min(written, buffer.size() - 1);
    return HexBytesLine(buffer.data() + 1, n);
}

QString DeviceDisplayName(const QString& product, const QString& serial, uint16_t vendorId, uint16_t productId) {
    auto hex4 = [](uint16_t v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); };
    QString name =
        !product.isEmpty() ? product : QStringLiteral("Device VID=%1 PID=%2").arg(hex4(vendorId), hex4(productId));
    if (!serial.isEmpty()) name += QStringLiteral(" (Serial=%1)").arg(serial);
    return name;
}

int SelectCableEntry(const QStringList& entries) {
    int selected = -1;
    for (int i = 0; i < entries.size(); ++i)
        if (entries[i] == QLatin1String(kProductName)) selected = i;
    return selected;
}

QString AccessRefusedMessage(const QString& reason) {
    // The system's reason and what to do, each a paragraph of its own.
    QString text = reason;
    text.replace(QStringLiteral(". The udev rule file "), QStringLiteral(".\n\nThe udev rule file "));
    return QStringLiteral("The USB interface cable cannot be used.\n\n") + text;
}

QString ArrivalLine(const QString& displayName) { return QStringLiteral("Arrival of ") + displayName; }

QString RemovalLine(const QString& displayName) { return QStringLiteral("Removal of ") + displayName; }

QString ReadErrorLine(const QString& systemMessage, uint32_t error) {
    return QStringLiteral("READ ERROR: %1 (%2)").arg(systemMessage, QString::number(error, 16).toUpper());
}

QString SystemErrorText(uint32_t error) { return QString::fromLocal8Bit(std::strerror(int(error))); }

}  // namespace cable
