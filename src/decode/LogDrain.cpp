// SPDX-License-Identifier: MIT
#include "decode/LogDrain.h"

#include "decode/LogLines.h"
#include "decode/ViewTWI.h"
#include "events/EventBuffer.h"

namespace Wirelog {

std::size_t DrainEvents(LogLines& lines) {
    std::size_t drained = 0;
    while (myevtTail < myevtHead.load(std::memory_order_acquire)) {
        const TWIevent& event = MyEvents[myevtTail];
        if (IsSeparatorCode(event.cmd))
            lines.append({});
        lines.AppendWritten(kMaxViewTWILength, [&event](char* out) {
            return FormatViewTWI(out, event.cmd, event.data, event.timer);
        });
        ++myevtTail;
        ++drained;
    }
    return drained;
}

} // namespace Wirelog
