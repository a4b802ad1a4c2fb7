// Small CP/M programs through the real zirrafon-cpm tool: they are assembled
// from tests/z80/cpm/*.asm with pasmo at test time, run, and their output is
// compared byte for byte; the tool's error handling is checked as well.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const std::string Tool = ZIRRAFON_BINARY_DIR "/zirrafon-cpm";
const std::string Sources = ZIRRAFON_SOURCE_DIR "/tests/z80/cpm/";

struct Outcome {
    int Exit = -1;
    std::string Out, Err;
};

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string Quote(const std::string& s) { return "'" + s + "'"; }

class Cpm : public ::testing::Test {
  protected:
    void SetUp() override {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("zirrafon-cpm-" + std::to_string(getpid()) + "-" + info->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        ASSERT_TRUE(fs::exists(Tool)) << Tool << " is not built";
    }
    void TearDown() override { fs::remove_all(dir_); }

    // Assembles tests/z80/cpm/NAME.asm into the temporary folder.
    std::string Assemble(const std::string& name) {
        if (std::system("command -v pasmo >/dev/null 2>&1") != 0) {
            ADD_FAILURE() << "pasmo is not installed: the CP/M test programs cannot be "
                             "assembled (scripts/setup installs it)";
            return {};
        }
        const std::string out = (dir_ / (name + ".com")).string();
        const std::string log = (dir_ / "pasmo.log").string();
        const int status = std::system(("pasmo --bin " + Quote(Sources + name + ".asm") + " " +
                                        Quote(out) + " >" + Quote(log) + " 2>&1")
                                           .c_str());
        EXPECT_EQ(status, 0) << "pasmo failed on " << name << ".asm:\n" << Slurp(log);
        return out;
    }

    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        const fs::path p = dir_ / name;
        std::ofstream(p, std::ios::binary)
            .write(reinterpret_cast<const char*>(bytes.data()),
                   static_cast<std::streamsize>(bytes.size()));
        return p.string();
    }

    // Runs the tool with `args` (already quoted), with a time limit so that a
    // core that never reaches the end fails instead of hanging.
    Outcome Run(const std::string& args) {
        const fs::path out = dir_ / "stdout", err = dir_ / "stderr";
        const std::string cmd = "timeout 60 " + Quote(Tool) + " " + args + " >" +
                                Quote(out.string()) + " 2>" + Quote(err.string());
        const int status = std::system(cmd.c_str());
        Outcome o;
        o.Exit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        o.Out = Slurp(out);
        o.Err = Slurp(err);
        return o;
    }

    fs::path dir_;
};

int Lines(const std::string& s) { return static_cast<int>(std::count(s.begin(), s.end(), '\n')); }

TEST_F(Cpm, HelloThroughBothPrintFunctions) {
    const std::string com = Assemble("hello");
    ASSERT_FALSE(com.empty());
    const Outcome o = Run(Quote(com));
    EXPECT_EQ(o.Exit, 0) << o.Err;
    EXPECT_EQ(o.Out, "Hello, world!\nOK\n");
}

TEST_F(Cpm, PrimeSieve) {
    const std::string com = Assemble("primes");
    ASSERT_FALSE(com.empty());
    std::string want;
    int count = 0;
    for (int n = 2; n < 200; ++n) {
        bool prime = true;
        for (int d = 2; d * d <= n; ++d) prime = prime && n % d != 0;
        if (prime) {
            want += std::to_string(n) + " ";
            ++count;
        }
    }
    want += '\n';
    want += std::to_string(count);
    want += " primes\n";
    const Outcome o = Run(Quote(com));
    EXPECT_EQ(o.Exit, 0) << o.Err;
    EXPECT_EQ(o.Out, want);
}

TEST_F(Cpm, ChecksumsWithShiftsExchangesAndDaa) {
    const std::string com = Assemble("crc");
    ASSERT_FALSE(com.empty());
    // 29B1 is the published check value of this CRC over "123456789";
    // 0x31 + ... + 0x39 = 0x1DD; 1 + ... + 9 = 45.
    const Outcome o = Run(Quote(com));
    EXPECT_EQ(o.Exit, 0) << o.Err;
    EXPECT_EQ(o.Out, "CRC 29B1 SUM DD BCD 45 LEN 09\n");
}

TEST_F(Cpm, ReportsTheTStatesItRan) {
    struct Case {
        const char* Name;
        std::vector<uint8_t> Code;
        const char* Want;
    };
    const Case cases[] = {
        {"JP 0", {0xC3, 0x00, 0x00}, "10 T-states"},
        // LD B,10 (7); DJNZ 9 x 13 + 8; RET to the pushed 0x0000 (10)
        {"DJNZ loop", {0x06, 0x0A, 0x10, 0xFE, 0xC9}, "142 T-states"},
        // LD C,0 (7); CALL 5 (17); JP at 5 (10); BDOS 0 ends before the RET
        {"BDOS 0", {0x0E, 0x00, 0xCD, 0x05, 0x00}, "34 T-states"},
    };
    for (const Case& c : cases) {
        const Outcome o = Run(Quote(Write("t.com", c.Code)));
        EXPECT_EQ(o.Exit, 0) << c.Name;
        EXPECT_EQ(o.Out, "") << c.Name;
        EXPECT_EQ(o.Err.rfind(c.Want, 0), 0u) << c.Name << ": " << o.Err;
        EXPECT_NE(o.Err.find("MHz"), std::string::npos) << o.Err;
        EXPECT_EQ(Lines(o.Err), 1) << o.Err;
    }
}

TEST_F(Cpm, SizeLimitIs0xFE00Bytes) {
    // JP 0xFEFC; there, at the very end of the largest program: NOP; LD B,n;
    // RET. The stack must not have overwritten those last bytes.
    std::vector<uint8_t> program(0xFE00, 0x00);
    const uint8_t start[] = {0xC3, 0xFC, 0xFE}, end[] = {0x00, 0x06, 0x77, 0xC9};
    std::copy(std::begin(start), std::end(start), program.begin());
    std::copy(std::begin(end), std::end(end), program.end() - 4);
    Outcome o = Run(Quote(Write("full.com", program)));
    EXPECT_EQ(o.Exit, 0) << o.Err;
    EXPECT_EQ(o.Err.rfind("31 T-states", 0), 0u) << o.Err;

    program.push_back(0x00);
    o = Run(Quote(Write("big.com", program)));
    EXPECT_EQ(o.Exit, 1);
    EXPECT_EQ(o.Out, "");
    EXPECT_EQ(Lines(o.Err), 1) << o.Err;
    EXPECT_NE(o.Err.find("big.com"), std::string::npos) << o.Err;
}

TEST_F(Cpm, MissingOrUnreadableFileAndUsage) {
    for (const std::string& path : {(dir_ / "absent.com").string(), dir_.string()}) {
        const Outcome o = Run(Quote(path));
        EXPECT_EQ(o.Exit, 1) << path;
        EXPECT_EQ(o.Out, "") << path;
        EXPECT_EQ(Lines(o.Err), 1) << o.Err;
        EXPECT_NE(o.Err.find(path), std::string::npos) << o.Err;
    }
    const Outcome usage = Run("");
    EXPECT_EQ(usage.Exit, 2);
    EXPECT_EQ(usage.Out, "");
    EXPECT_EQ(Lines(usage.Err), 1);
    EXPECT_NE(usage.Err.find("usage"), std::string::npos) << usage.Err;
}

} // namespace
