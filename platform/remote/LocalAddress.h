// The local address a client's connections to the daemon are made from.
#pragma once

struct grpc_socket_mutator;

namespace ovremote {

// A socket mutator that binds each client socket to address (IPv4, network
// byte order, as OvInetAddress::GetIpAddress gives it) before it connects;
// a socket that cannot be bound there fails to connect. The channel
// arguments it is handed to own it.
grpc_socket_mutator* NewLocalAddressMutator(unsigned address);

}  // namespace ovremote
