// The system's side of the engine's sockets, one file per system:
// posix/net_socket_posix.cpp (BSD sockets), win32/net_socket_win32.cpp
// (Winsock). net_socket.cpp builds the connection's waits on these.
#pragma once
#include <cstdint>

namespace xldl::netsys {

// Waits up to sliceMs for the socket to become readable (or writable):
// 1 ready, 0 not yet (also when a signal cut the wait short), -1 error.
int WaitSlice(intptr_t sock, bool write, int sliceMs);
// One send() or recv() on a non-blocking socket; as the system call returns.
int SendSome(intptr_t sock, const char* data, int n);
int ReceiveSome(intptr_t sock, char* buf, int n);
// Whether the last call failed only for want of data or room, or because a
// connection is on its way: worth a wait and another try.
bool WouldBlock();
void CloseSocket(intptr_t sock);

}  // namespace xldl::netsys
