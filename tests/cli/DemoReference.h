// SPDX-License-Identifier: MIT
#pragma once
// The simulated module's demo traffic, read in this process from the adapter library as fast as
// the simulator makes it, and turned into the log a capture of the same traffic must write: the
// reference a capture's output is compared with line by line, in constant memory however long.
// The traffic is deterministic; only the gaps a START shows depend on when the reads happened.
#include "cli/LogPipeline.h"
#include "decode/LogTextWriter.h"
#include "ftd2xx.h"
#include "wirelog_sim.h"

#include <dlfcn.h>

#include <memory>
#include <optional>
#include <regex>
#include <stdexcept>
#include <string>
#include <vector>

namespace Wirelog::test {

// A START's gap depends on when the reads happened, and a stop stamped 0 shows none.
inline std::string WithoutGap(const std::string& line) {
    static const std::regex gap(" \\[Gap from last Stop = -?[0-9]+mS\\]");
    return line.starts_with("START") ? std::regex_replace(line, gap, "") : line;
}

class DemoReference {
public:
    DemoReference() {
        Call<decltype(&WirelogSim_Configure)>("WirelogSim_Configure")("hw:off;dev:rate=1000000000");
        if (Call<decltype(&FT_Open)>("FT_Open")(0, &handle_) != FT_OK)
            throw std::runtime_error("cannot open the simulated module");
        std::uint8_t start[] = {0x01, 0xFE};
        DWORD written = 0;
        Call<decltype(&FT_Write)>("FT_Write")(handle_, start, 2, &written);
        pipeline_.emplace(1000.0, std::make_unique<LogTextWriter>(), [this](std::string_view b) {
            text_.append(b);
            return true;
        });
    }
    ~DemoReference() { Call<decltype(&FT_Close)>("FT_Close")(handle_); }

    // The next line of the reference log, without its CR LF and with its gap blanked.
    std::string Next() {
        std::size_t end;
        while ((end = text_.find("\r\n", at_)) == std::string::npos)
            Pump();
        std::string line = WithoutGap(text_.substr(at_, end - at_));
        at_ = end + 2;
        return line;
    }

private:
    void Pump() {
        text_.erase(0, at_);
        at_ = 0;
        DWORD got = 0;
        while (got == 0)
            Call<decltype(&FT_Read)>("FT_Read")(handle_, buffer_.data(),
                                                static_cast<DWORD>(buffer_.size()), &got);
        pipeline_->addRead(0, buffer_.data(), got);
        pipeline_->flush();
    }

    template <class Fn> static Fn Call(const char* name) {
        static void* const library = dlopen(WIRELOG_TEST_ADAPTER_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        if (void* address = library ? dlsym(library, name) : nullptr)
            return reinterpret_cast<Fn>(address);
        throw std::runtime_error(std::string("cannot bind ") + name);
    }

    FT_HANDLE handle_ = nullptr;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(1 << 16);
    std::optional<cli::LogPipeline> pipeline_;
    std::string text_;
    std::size_t at_ = 0;
};

// Compares a capture's log, as it comes in pieces, with the reference, line by line.
class LogChecker {
public:
    // False at the first line that differs; `mismatch` then tells where.
    bool Feed(std::string_view bytes) {
        pending_.append(bytes);
        std::size_t at = 0;
        for (std::size_t end; (end = pending_.find("\r\n", at)) != std::string::npos;
             at = end + 2) {
            const std::string line = WithoutGap(pending_.substr(at, end - at));
            const std::string expected = reference_.Next();
            if (line != expected) {
                mismatch = "line " + std::to_string(lines) + ": '" + line + "', expected '" +
                           expected + "'";
                return false;
            }
            ++lines;
            events += !line.empty();
        }
        pending_.erase(0, at);
        return true;
    }
    // What followed the last whole line: a line cut short (empty when the log ended whole).
    const std::string& Rest() const { return pending_; }

    std::uint64_t lines = 0, events = 0;
    std::string mismatch;

private:
    DemoReference reference_;
    std::string pending_;
};

} // namespace Wirelog::test
