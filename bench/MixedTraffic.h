// SPDX-License-Identifier: MIT
#pragma once
// A capture's worth of mixed bus traffic for the log benchmarks, the same for every view.
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

#include <cstdint>
#include <iterator>
#include <random>

namespace Wirelog::bench {

// Bus traffic of a small board: an EEPROM at 0x50 written and read back, a sensor at 0x48
// polled, a device that is not there, and now and then a protocol error.
class Traffic {
public:
    void Fill(std::uint32_t events) {
        while (myevtHead.load() < events)
            Transaction();
    }

private:
    void Event(std::uint8_t cmd, std::uint8_t data = 0) {
        time_ += 90'000; // one byte at 100 kHz, in nanosecond ticks
        AppendEvent(cmd, data, time_);
    }
    void Start() {
        time_ += 1'000'000 + random_() % 4'000'000; // a few milliseconds of idle bus
        Event(1);
    }
    void Transaction() {
        switch (random_() % 8) {
        case 0: // EEPROM page write
            Start();
            Event(7, 0xA0);
            for (int i = 0; i < 18; ++i)
                Event(9, static_cast<std::uint8_t>(random_()));
            Event(2);
            break;
        case 1: // EEPROM read back
            Start();
            Event(7, 0xA0);
            Event(9, 0x00);
            Event(9, 0x40);
            Event(6);
            Event(7, 0xA1);
            for (int i = 0; i < 15; ++i)
                Event(9, static_cast<std::uint8_t>(random_()));
            Event(10, static_cast<std::uint8_t>(random_()));
            Event(2);
            break;
        case 2: // nobody answers at 0x3C
            Start();
            Event(8, 0x78);
            Event(2);
            break;
        case 3: // a protocol error now and then
            Error();
            break;
        default: // temperature sensor poll
            Start();
            Event(7, 0x90);
            Event(9, 0x00);
            Event(6);
            Event(7, 0x91);
            Event(9, static_cast<std::uint8_t>(random_()));
            Event(10, static_cast<std::uint8_t>(random_()));
            Event(2);
            break;
        }
    }
    void Error() {
        static constexpr std::uint8_t kErrors[] = {3, 4, 5, 11, 12, 13, 14, 15, 16, 17};
        const std::uint8_t code = kErrors[random_() % std::size(kErrors)];
        if (code == 3 || code == 13 || code == 14 || code == 15)
            Start();
        Event(code, static_cast<std::uint8_t>(random_()));
    }

    std::mt19937 random_{12345};
    std::int64_t time_ = 0;
};

// A full capture: the module's announcement, then traffic up to the buffer's capacity.
inline void FillCapture() {
    ResetEventBuffer();
    ResetDecoder();
    AppendEvent(0, 0, 0);
    Traffic().Fill(kEventCapacity);
}

} // namespace Wirelog::bench
