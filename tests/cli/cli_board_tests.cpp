// kovra610-cli run in-process on a virtual board of the test's own, which
// can lose its cable and get it back between two commands.
#include <gtest/gtest.h>
#include <stdio.h>
#include <unistd.h>

#include <QJsonArray>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>

#include "app/cli/cli_main.h"
#include "app/kovra610 evaluation board.h"
#include "cli_process.h"
#include "json_line.h"
#include "platform/d2xx/virtual_board/virtual_board.h"
#include "recording_backend.h"

using namespace kovra610::cli::testing;
using kovra610::testing::FdCapture;

namespace {

// A command line of a session, and what happens to the board before it is
// read.
struct Line {
    Line(const char* line, std::function<void()> action = {})
        : text(line), before(std::move(action)) {}
    std::string text;
    std::function<void()> before;
};

// Standard input of a session that hands out one line per read, running
// each line's action first: the session has answered every line before.
class SessionInput {
public:
    explicit SessionInput(std::vector<Line> lines) : lines_(std::move(lines)) {
        cookie_io_functions_t io{};
        io.read = [](void* self, char* buf, size_t size) -> ssize_t {
            return static_cast<SessionInput*>(self)->read(buf, size);
        };
        file_ = fopencookie(this, "r", io);
    }
    ~SessionInput() { std::fclose(file_); }
    FILE* file() const { return file_; }

private:
    ssize_t read(char* buf, size_t size) {
        if (pending_.empty() && next_ < lines_.size()) {
            if (lines_[next_].before) lines_[next_].before();
            pending_ = lines_[next_++].text + "\n";
        }
        const size_t n = std::min(size, pending_.size());
        std::memcpy(buf, pending_.data(), n);
        pending_.erase(0, n);
        return static_cast<ssize_t>(n);
    }
    std::vector<Line> lines_;
    std::size_t next_ = 0;
    std::string pending_;
    FILE* file_ = nullptr;
};

class CliOnBoard : public ::testing::Test {
protected:
    void SetUp() override {
        previous_ = fs::current_path();
        fs::current_path(dir_.path());
        board = std::make_shared<kovra610::vboard::VirtualBoard>();
        kovra610::d2xx::installBackend(board);
    }
    void TearDown() override {
        fs::current_path(previous_);
        kovra610::d2xx::installBackend(nullptr);
    }

    // Runs kovra610-cli with `args` and, for serve, the session `lines`.
    Outcome run(std::vector<std::string> args, std::vector<Line> lines = {}) {
        // Each run starts as a fresh process would.
        delete[] g_DACSETUPFILES;
        g_DACSETUPFILES = nullptr;
        sbus_structure = sbus_structure_initial_contents();
        std::memset(&sbus_last_sent, 0xFF, sizeof sbus_last_sent);
        args.insert(args.begin(), "kovra610-cli");
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        SessionInput input(std::move(lines));
        Outcome r;
        FdCapture out(STDOUT_FILENO), err(STDERR_FILENO);
        r.status =
            kovra610::cli::runCommandLine(static_cast<int>(args.size()), argv.data(), input.file());
        r.out = out.text();
        r.err = err.text();
        return r;
    }

    static std::vector<QJsonObject> answers(const Outcome& r) {
        std::vector<QJsonObject> out;
        for (const std::string& line : lines(r.out)) {
            if (auto o = parseJsonLine(line)) out.push_back(*o);
        }
        return out;
    }

    WorkDir dir_;
    std::shared_ptr<kovra610::vboard::VirtualBoard> board;

private:
    fs::path previous_;
};

bool contains(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

TEST_F(CliOnBoard, ALostLinkRefusesWhatNeedsItUntilAReopenSucceeds) {
    auto pull = [this] { board->faults().pullCable(); };
    auto plug = [this] { board->faults().plugCable(); };
    const Outcome r = run({"serve"}, {{"level 0 1.0"},
                                      {"read 1 0", pull},
                                      {"level 0 2.0"},
                                      {"get DRVFORCE"},
                                      {"save Dac/kept.sbus"},
                                      {"reopen"},
                                      {"reopen", plug},
                                      {"read 1 0"}});
    EXPECT_EQ(r.status, 0) << r.err;
    const std::vector<QJsonObject> a = answers(r);
    ASSERT_EQ(a.size(), 9u) << r.out;
    EXPECT_EQ(a[1].value("ok"), QJsonValue(true));
    for (std::size_t i : {2u, 3u, 6u}) {
        EXPECT_EQ(a[i].value("ok"), QJsonValue(false)) << i;
        EXPECT_TRUE(contains(a[i].value("error").toString().toStdString(), "link down")) << i;
    }
    EXPECT_EQ(a[3].value("step").toString(), "level 0 2.0");
    // What needs no board still works.
    EXPECT_EQ(a[4].value("ok"), QJsonValue(true));
    EXPECT_EQ(a[5].value("ok"), QJsonValue(true));
    EXPECT_TRUE(fs::exists(dir_ / "Dac" / "kept.sbus"));
    // Re-plugged and re-opened: the chip answers with what it holds.
    EXPECT_EQ(a[7].value("ok"), QJsonValue(true)) << r.err;
    EXPECT_EQ(a[8].value("data").toInt(), 22937);  // 1.0 V
}

TEST_F(CliOnBoard, AStepThatLosesTheLinkEndsTheRunWithStatus3AndNoMadeUpRows) {
    ASSERT_EQ(run({"reset"}).status, 0);
    const unsigned startUp = static_cast<unsigned>(board->writeCalls()) - 3;  // less the reset
    auto pulledAfter = [this](unsigned writes) {
        board = std::make_shared<kovra610::vboard::VirtualBoard>();
        kovra610::d2xx::installBackend(board);
        board->faults().pullCableAfterWrite(writes);
    };

    pulledAfter(startUp + 3 + 1);  // in the level after the reset
    Outcome r = run({"reset", "level", "0", "1.0", "save", "after.sbus"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(r.err, "kovra610-cli: step 2 (level 0 1.0): link down")) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "after.sbus"));

    // Pulled after the tenth read went out: the nine answered entries are
    // listed, nothing for the rest.
    pulledAfter(startUp + 10);
    r = run({"--json", "read-all"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(r.err, "step 1 (read-all): link down")) << r.err;
    std::vector<QJsonObject> rows = answers(r);
    ASSERT_EQ(rows.size(), 10u) << r.out;  // hello and nine entries
    for (int i = 1; i < 10; ++i) EXPECT_EQ(rows[i].value("index").toInt(), i - 1);
    EXPECT_EQ(rows[1].value("data").toInt(), 36044);

    pulledAfter(startUp + 1);  // the batched read goes out, its answers never come in
    r = run({"--json", "read-all", "--fast"});
    EXPECT_EQ(r.status, 3);
    EXPECT_EQ(answers(r).size(), 1u) << r.out;  // the hello line alone
}

TEST_F(CliOnBoard, NoBoardAtStartUpIsStatus3AndSaysHowToGetOne) {
    board->faults().setDevicePresent(false);
    Outcome r = run({"save", "never.sbus"});
    EXPECT_EQ(r.status, 3);
    EXPECT_TRUE(contains(r.out, "Check Board Power"));
    EXPECT_TRUE(contains(r.out, "KOVRA610_BOARD=virtual"));
    EXPECT_TRUE(contains(r.err, "kovra610-cli: start-up: link down")) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / "never.sbus"));

    r = run({"serve"}, {{"reset"}});
    EXPECT_EQ(r.status, 3);
    const std::vector<QJsonObject> a = answers(r);
    ASSERT_EQ(a.size(), 1u) << r.out;
    EXPECT_EQ(a[0].value("ok"), QJsonValue(false));
    EXPECT_EQ(a[0].value("step").toString(), "start-up");
}

TEST_F(CliOnBoard, AShortReplyToTheFastReadStoresNothing) {
    auto shorten = [this] { board->faults().shortenNextReply(6 * 39 + 3); };
    const Outcome r =
        run({"serve"},
            {{"write 1 1 0 1234"}, {"read-all --fast", shorten}, {"verify"}, {"read-all --fast"}});
    const std::vector<QJsonObject> a = answers(r);
    ASSERT_EQ(a.size(), 5u) << r.out;
    EXPECT_EQ(a[2].value("ok"), QJsonValue(false));
    EXPECT_TRUE(contains(a[2].value("error").toString().toStdString(),
                         "short, missing or not for the registers asked (39 of 40 answers "
                         "arrived); nothing was stored"))
        << a[2].value("error").toString().toStdString();
    EXPECT_FALSE(a[2].contains("entries"));
    // The image still holds the default setup's 3.0 V, not the chip's 1234.
    const QJsonArray differences = a[3].value("differences").toArray();
    ASSERT_EQ(differences.size(), 1);
    EXPECT_EQ(differences[0].toObject().value("image").toInt(), 36044);
    EXPECT_EQ(differences[0].toObject().value("chip").toInt(), 1234);
    // A read that comes whole stores it.
    EXPECT_EQ(a[4].value("entries").toArray()[0].toObject().value("data").toInt(), 1234);
    EXPECT_EQ(sbus_structure.data[0], 1234);
}

// The words written to the chip (reads aside).
std::vector<kovra610::sbus::Word> writes(const kovra610::vboard::VirtualBoard& board) {
    std::vector<kovra610::sbus::Word> out;
    for (const auto& w : board.chip().words())
        if (w.rw == 1) out.push_back(w);
    return out;
}

TEST_F(CliOnBoard, AttachReadsTheChipAndTheFirstEditSendsOnlyItself) {
    ASSERT_EQ(run({"level", "0", "2.0", "set", "DRVFORCE", "Vh"}).status, 0);
    const std::size_t written = writes(*board).size();
    const auto resets = board->chip().resets();
    const Outcome r =
        run({"--attach", "--json", "get", "DRVFORCE", "set", "DRVPOWER", "0", "verify"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(board->chip().resets(), resets);  // the chip was not reset
    // Only the driver word of both channels went out.
    const std::vector<kovra610::sbus::Word> w = writes(*board);
    ASSERT_EQ(w.size(), written + 2);
    EXPECT_EQ(w[written].addr, 0x19u);
    EXPECT_EQ(w[written + 1].addr, 0x19u);
    const std::vector<QJsonObject> a = answers(r);
    ASSERT_EQ(a.size(), 3u) << r.out;  // hello, get, set; verify found nothing
    EXPECT_EQ(a[1].value("caption").toString(), "Vh");
    EXPECT_EQ(a[2].value("caption").toString(), "Disable Low Leak");
    EXPECT_EQ(sbus_structure.data[0], 29491);  // 2.0 V, read from the chip
}

}  // namespace
