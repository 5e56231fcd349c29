// The VCD pin trace: its form, its times, and what sigrok-cli's SPI decoder
// reads from it.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>

#include "board_fixture.h"

namespace kovra610::vboard::testing {
namespace {

std::string tempPath(const std::string& name) {
    return ::testing::TempDir() + "vboard_" + std::to_string(::getpid()) + "_" + name;
}

std::string slurp(const std::string& path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// Times (ps) at which `signal` (0-7) went to `level`.
std::vector<uint64_t> edges(const std::string& vcd, int signal, int level) {
    static const char kIds[] = "!\"#$%&'(";
    std::vector<uint64_t> out;
    std::istringstream in(vcd);
    std::string line;
    uint64_t now = 0;
    bool body = false;
    bool dump = false;
    while (std::getline(in, line)) {
        if (line == "$enddefinitions $end") body = true;
        if (line == "$dumpvars") dump = true;
        if (line == "$end") dump = false;
        if (!body || dump || line.empty()) continue;
        if (line[0] == '#') {
            now = std::stoull(line.substr(1));
        } else if (line.size() == 2 && line[1] == kIds[signal] && line[0] == '0' + level) {
            out.push_back(now);
        }
    }
    return out;
}

class PinTraceTest : public BoardTest {};

TEST_F(PinTraceTest, HeaderNamesTheEightPinsAndStartsWithTheirLevels) {
    const std::string path = tempPath("header.vcd");
    std::string error;
    ASSERT_TRUE(board->startTrace(path, &error)) << error;
    EXPECT_TRUE(board->tracing());
    EXPECT_FALSE(board->startTrace(path, &error));
    openMpsse();
    ASSERT_TRUE(board->stopTrace());
    const std::string vcd = slurp(path);
    EXPECT_NE(vcd.find("$timescale 1 ps $end"), std::string::npos);
    for (int i = 0; i < 8; ++i) {
        EXPECT_NE(vcd.find("$var wire 1 " + std::string(1, static_cast<char>('!' + i)) + " ADBUS" +
                           std::to_string(i) + " $end"),
                  std::string::npos);
    }
    // All pulled up at the start but ADBUS2; then the idle state.
    EXPECT_NE(vcd.find("$dumpvars\n1!\n1\"\n0#\n1$\n1%\n1&\n1'\n1(\n$end\n"), std::string::npos);
    EXPECT_EQ(edges(vcd, 0, 0).size(), 1u);
    std::remove(path.c_str());
}

TEST_F(PinTraceTest, ClockEdgesAreSpacedByTheDivisor) {
    openMpsse();
    const std::string path = tempPath("timing.vcd");
    ASSERT_TRUE(board->startTrace(path));
    send(bytesOf(mpsse::clockPulses(4)));  // divisor 15: period 32 ticks
    // divisor 2, divide-by-5: period 30 ticks
    send(streamOf(mpsse::setClockDivisor(2), mpsse::kEnableDivideBy5));
    send(bytesOf(mpsse::clockPulses(4)));
    ASSERT_TRUE(board->stopTrace());
    const auto rising = edges(slurp(path), 0, 1);
    ASSERT_EQ(rising.size(), 8u);
    auto ps = [](uint64_t ticks) { return static_cast<double>(ticks) * 1e6 / 60.0; };
    for (std::size_t i = 1; i < 4; ++i) {
        EXPECT_NEAR(static_cast<double>(rising[i] - rising[i - 1]), ps(32), 1.0);
        EXPECT_NEAR(static_cast<double>(rising[i + 4] - rising[i + 3]), ps(30), 1.0);
    }
    // Between the two bursts at least one USB frame passes.
    EXPECT_GT(static_cast<double>(rising[4] - rising[3]), ps(VirtualBoard::kUsbGapTicks));
    std::remove(path.c_str());
}

TEST_F(PinTraceTest, UnwritablePathIsRefusedWithAReason) {
    std::string error;
    EXPECT_FALSE(board->startTrace("/nonexistent-dir/trace.vcd", &error));
    EXPECT_NE(error.find("/nonexistent-dir/trace.vcd"), std::string::npos);
    EXPECT_FALSE(board->tracing());
    EXPECT_FALSE(board->startTrace(std::string(5000, 'x') + ".vcd", &error));
    // The board works on without a trace.
    openMpsse();
    send({sbus::kEchoProbe});
    EXPECT_EQ(drain(), kEcho);
}

TEST_F(PinTraceTest, AFileAnotherBoardIsTracingIsRefusedAndLeftWhole) {
    const std::string path = tempPath("shared.vcd");
    ASSERT_TRUE(board->startTrace(path));
    openMpsse();
    send(bytesOf(mpsse::clockPulses(4)));
    VirtualBoard other;  // another session's board, given the same file
    std::string error;
    EXPECT_FALSE(other.startTrace(path, &error));
    EXPECT_NE(error.find("another board"), std::string::npos) << error;
    ASSERT_TRUE(board->stopTrace());
    EXPECT_EQ(edges(slurp(path), 0, 1).size(), 4u);
    // Once the first is done, the file may be traced again.
    EXPECT_TRUE(other.startTrace(path, &error)) << error;
    EXPECT_TRUE(other.stopTrace());
    std::remove(path.c_str());
}

TEST(PinTraceEnvironmentTest, BoardMadeFromTheEnvironmentTraces) {
    const std::string path = tempPath("env.vcd");
    ::setenv("KOVRA610_BOARD_TRACE", path.c_str(), 1);
    auto backend = makeVirtualBoardBackend();
    ::unsetenv("KOVRA610_BOARD_TRACE");
    auto* board = dynamic_cast<VirtualBoard*>(backend.get());
    ASSERT_NE(board, nullptr);
    EXPECT_TRUE(board->tracing());
    d2xx::installBackend(backend);
    FT_HANDLE h = nullptr;
    ASSERT_EQ(FT_Open(0, &h), FT_OK);
    ASSERT_EQ(FT_SetBitMode(h, 0, FT_BITMODE_MPSSE), FT_OK);
    Bytes s = writeStream(wordOf(3, 1, 0x1D, 12));
    DWORD n = 0;
    ASSERT_EQ(FT_Write(h, s.data(), 18, &n), FT_OK);
    board = nullptr;
    backend.reset();
    d2xx::installBackend(nullptr);  // the last owner goes; the file is closed
    const std::string vcd = slurp(path);
    EXPECT_NE(vcd.find("$enddefinitions $end"), std::string::npos);
    EXPECT_EQ(edges(vcd, 0, 1).size(), 26u + 72u);
    std::remove(path.c_str());
}

// Runs sigrok-cli's SPI decoder (mode 0, 26-bit words, select active low) on
// `path` and returns the words of one annotation class.
std::vector<uint32_t> decodeSpi(const std::string& path, const std::string& cls) {
    const std::string cmd = std::string(KOVRA610_SIGROK_CLI) + " -I vcd:compress=1000 -i '" + path +
                            "' -P spi:clk=ADBUS0:mosi=ADBUS1:miso=ADBUS2:cs=ADBUS3:"
                            "cs_polarity=active-low:wordsize=26:cpol=0:cpha=0 -A spi=" +
                            cls + " 2>&1";
    std::vector<uint32_t> words;
    std::FILE* p = ::popen(cmd.c_str(), "r");
    if (p == nullptr) return words;
    char line[256];
    while (std::fgets(line, sizeof line, p) != nullptr) {
        std::string s(line);
        const auto colon = s.find(": ");
        if (s.rfind("spi-1", 0) != 0 || colon == std::string::npos) {
            ADD_FAILURE() << "sigrok-cli: " << s;
            continue;
        }
        words.push_back(static_cast<uint32_t>(std::stoul(s.substr(colon + 2), nullptr, 16)));
    }
    EXPECT_EQ(::pclose(p), 0);
    return words;
}

TEST_F(PinTraceTest, SigrokSpiDecoderReadsTheWordsSentAndAnswered) {
    if (::access(KOVRA610_SIGROK_CLI, X_OK) != 0) GTEST_SKIP() << "sigrok-cli is not installed";
    const std::string path = tempPath("spi.vcd");
    ASSERT_TRUE(board->startTrace(path));
    openMpsse();
    // A reset pulse first.
    send(bytesOf(mpsse::setLowByte(sbus::kResetLow)));
    send(bytesOf(mpsse::setLowByte(sbus::kIdle)));
    send(bytesOf(mpsse::clockBytePulses(sbus::kResetClockGroups)));

    std::vector<uint32_t> mosi;
    std::vector<uint32_t> miso;
    auto doWrite = [&](uint32_t w) {
        send(writeStream(w));
        mosi.push_back(w);
        miso.push_back(0);
    };
    auto doRead = [&](unsigned ch, unsigned addr) {
        send(readStream(ch, addr));
        const uint32_t answer = answerOf(drain());
        mosi.push_back(wordOf(ch, 0, addr, 0));
        miso.push_back(0);
        mosi.push_back(0);
        miso.push_back(answer);
        return answer;
    };
    doWrite(wordOf(3, 1, 0x1D, 12));
    doWrite(wordOf(1, 1, 0x00, 0xFFFF));
    doWrite(wordOf(2, 1, 0x7F, 0xA5C3));
    EXPECT_EQ(doRead(2, 0x7F), wordOf(2, 0, 0x7F, 0xA5C3));
    send(bytesOf(mpsse::setClockDivisor(0)));  // 30 MHz
    doWrite(wordOf(1, 1, 0x2A, 0x5555));
    EXPECT_EQ(doRead(1, 0x2A), wordOf(1, 0, 0x2A, 0x5555));
    send(streamOf(mpsse::setClockDivisor(59), mpsse::kEnableDivideBy5));  // 100 kHz
    EXPECT_EQ(doRead(3, 0x1D), wordOf(3, 0, 0x1D, 12));
    ASSERT_TRUE(board->stopTrace());

    EXPECT_EQ(decodeSpi(path, "mosi-data"), mosi);
    EXPECT_EQ(decodeSpi(path, "miso-data"), miso);
    std::remove(path.c_str());
}

}  // namespace
}  // namespace kovra610::vboard::testing
