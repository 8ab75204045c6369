// SPDX-License-Identifier: MIT
#include "decode/TimeBase.h"

#include "decode/ViewTWI.h"
#include "events/Counter.h"

namespace Wirelog {

void InitTimeBase() {
    div = static_cast<double>(CounterFrequency()) / 1000.0;
}

} // namespace Wirelog
