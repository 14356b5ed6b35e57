// The window keeps the transmitter's state in the GUI-free record of the transmit side.
#pragma once

#include "transmit/transmit_state.h"

namespace kestrix::shell {

using transmit::kPortNameBytes;
using transmit::kSendBufferBytes;
using transmit::kSendBufferCount;
using transmit::SendBuffer;
using transmit::TransmitState;

}  // namespace kestrix::shell
