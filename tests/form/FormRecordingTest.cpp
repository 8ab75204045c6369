// SPDX-License-Identifier: MIT
// Recordings opened into the log list: the lines are exactly those the command line's decode
// writes for the same file, the channel dialog comes only when no channels are named SCL and
// SDA, and a cancel or a bad file leaves the list as it was.
#include "FakeView.h"
#include "busmonitor/CaptureMonitor.h"
#include "cli/CaptureDecode.h"
#include "cli/LogPipeline.h"
#include "cli/OutputFormats.h"
#include "cli/ProgressMeter.h"
#include "events/EventCodes.h"

#include <fstream>
#include <tuple>

namespace Wirelog::testing {
namespace {

namespace fs = std::filesystem;
using Texts = std::vector<std::string>;

const fs::path kCliData = WIRELOG_CLI_TEST_DATA;
const fs::path kCaptures = WIRELOG_CAPTURE_TEST_DATA;
// A logic capture whose lines are not named SCL and SDA, readable in every build.
const fs::path kOtherNames = kCaptures / "braintechnology_usb_lps_powerup.vcd";

Texts SplitLog(const std::string& bytes) {
    Texts lines;
    for (std::size_t at = 0; at < bytes.size();) {
        const std::size_t end = bytes.find("\r\n", at);
        lines.push_back(bytes.substr(at, end - at));
        at = end + 2;
    }
    return lines;
}

// What `wirelog-cli decode --scl SCL --sda SDA FILE` writes, through its own pipeline.
Texts DecodedCapture(const fs::path& file, const std::string& scl, const std::string& sda) {
    CaptureMonitor capture({file.string(), "", scl, sda, {}});
    std::string bytes;
    const double ticksPerMs = static_cast<double>(capture.SampleRate()) / 1000.0;
    cli::LogPipeline pipeline(ticksPerMs, cli::MakeEventWriter(cli::kLogFormat, {}),
                              [&](std::string_view chunk) {
                                  bytes += chunk;
                                  return true;
                              });
    cli::ProgressMeter silent(stderr, false, [] { return 0.0; });
    bool sinkFailed = false;
    EXPECT_EQ(cli::DecodeCapture(capture, pipeline, silent, sinkFailed), std::nullopt);
    pipeline.finish();
    return SplitLog(bytes);
}

class FormRecordingTest : public FormTest {
protected:
    void SetUp() override {
        Open("hw:off");
        ShowEvents({TWI_MONITOR_ON, TWI_START}); // what the list had before
        before = Rows();
        counterTicksPerMs = Wirelog::div;
    }
    Texts before;
    double counterTicksPerMs = 0;
};

TEST_F(FormRecordingTest, ModuleStreamsAndLogicCapturesGiveTheLinesDecodeWrites) {
    std::ifstream in(kCliData / "gigabyte_6vle_vxl_i2c.log", std::ios::binary);
    const Texts decoded = SplitLog({std::istreambuf_iterator<char>(in), {}});
    ASSERT_GT(decoded.size(), 50u);
    form->OpenRecording(kCliData / "gigabyte_6vle_vxl_i2c.batches.txt");
    view->RunRecording(*form);
    EXPECT_EQ(Rows(), decoded);
    EXPECT_TRUE(view->channelDialogs.empty() && view->messages.empty());
    EXPECT_EQ(view->rows, decoded.size());
    EXPECT_EQ(view->progressShown, -1);

    // Channels named SCL and SDA are taken without asking; others are asked for.
    form->OpenRecording(kCaptures / "wii_nunchuk_init.vcd");
    view->RunRecording(*form);
    EXPECT_EQ(Rows(), DecodedCapture(kCaptures / "wii_nunchuk_init.vcd", "SCL", "SDA"));
    EXPECT_TRUE(view->channelDialogs.empty());
    view->channelAnswer = {2, 1};
    form->OpenRecording(kOtherNames);
    view->RunRecording(*form);
    // The window's own time base is back for the next capture (decode sets its own below).
    EXPECT_EQ(Wirelog::div, counterTicksPerMs);
    EXPECT_EQ(view->channelDialogs,
              (std::vector<Texts>{{"PB0", "PB1/SDA", "PB2/SCL", "PB3", "PB4", "PB5", "D6", "D7"}}));
    EXPECT_EQ(Rows(), DecodedCapture(kOtherNames, "PB2/SCL", "PB1/SDA"));
}

// Nothing changes the list but a whole file: not a cancelled dialog or decode, not a bad file,
// which a message names with its problem.
TEST_F(FormRecordingTest, ACancelOrABadFileLeavesTheListAsItWas) {
    form->OpenRecording(kOtherNames); // the dialog is cancelled
    EXPECT_EQ(view->stepsRequested, 0);
    ScratchDirectory scratch;
    const fs::path longFile = scratch.path / "long.txt"; // several steps' worth
    std::ofstream(longFile) << [] {
        std::string text;
        for (int read = 0; read < 20'000; ++read)
            text += std::to_string(read * 100) + " 01 07 A0 09 10 02\n";
        return text;
    }();
    form->OpenRecording(longFile);
    view->RunRecording(*form, 2);
    EXPECT_FALSE(form->IsOpeningRecording());
    EXPECT_EQ(view->progressShown, -1);
    EXPECT_EQ(Rows(), before);

    const std::vector<std::tuple<std::string, std::string, std::string>> bad = {
        {"batches.txt", "0 00 05\n1836000 01 0G\n", "\": line 2: bad hex byte '0G'"},
        {"capture.vcd",
         "$timescale 1 us $end\n$var wire 1 ! SCL $end\n$var wire 1 \" SDA "
         "$end\n$enddefinitions $end\n#0 1! 1\"\n#5 0!\n#3 1!\n",
         "\": line 7: time goes backwards"},
        {"missing.txt", "", "\": there is no such file"}};
    for (const auto& [name, content, problem] : bad) {
        SCOPED_TRACE(name);
        view->messages.clear();
        const fs::path file = scratch.path / name;
        if (name != "missing.txt")
            std::ofstream(file, std::ios::binary) << content;
        form->OpenRecording(file);
        view->RunRecording(*form);
        ASSERT_EQ(view->messages.size(), 1u);
        EXPECT_EQ(view->messages[0].rfind(kRecordingFailedMessage + ("\"" + file.string()), 0), 0u)
            << view->messages[0];
        EXPECT_GT(view->messages[0].size(), file.string().size() + 50);
        EXPECT_EQ(Rows(), before);
    }
}

} // namespace
} // namespace Wirelog::testing
