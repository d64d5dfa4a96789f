// One process-wide flag: while it is true, a door-lock connection (kind 1)
// stays open after its reply and is read again. False at start; written only
// by an IssueCard request that carries the keep-connection child; read by the
// kind-1 request loop after each request. Connection threads write and read
// it at any time; it is atomic, and a reader sees whatever value is stored
// when its request finishes.
#pragma once

#include <atomic>

namespace ostra {

extern std::atomic<bool> KeepClientConnection;

}  // namespace ostra
