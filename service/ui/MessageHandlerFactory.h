// The message handler of each interface kind, made afresh for every request.
//
// Threads: called on connection threads, several at once; it only reads
// its argument.
#pragma once

#include <memory>

#include "platform/net/TcpListener.h"

namespace ostra {

// A new handler for `Kind` (1 door lock, 2 police, 3 member card, 4 hand
// card). Throws std::logic_error for a kind that has no handler in this build.
std::unique_ptr<IMessageHandler> CreateMessageHandler(int Kind);

}  // namespace ostra
