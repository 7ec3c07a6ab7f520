// Binding the client's sockets to the local address (LocalAddress.h).
//
// gRPC offers no channel setting for the address a connection comes from,
// only a socket mutator called on each socket before it connects. Its public
// headers name the mutator's type but not its layout: the declarations below
// are those of the gRPC core this program builds against (1.51), whose
// library exports grpc_socket_mutator_init.
#include "platform/remote/LocalAddress.h"

#include <grpc/support/sync.h>

#include <cstring>

#include <netinet/in.h>
#include <sys/socket.h>

struct grpc_socket_mutator;

typedef struct {
    bool (*mutate_fd)(int fd, grpc_socket_mutator* mutator);
    int (*compare)(grpc_socket_mutator* a, grpc_socket_mutator* b);
    void (*destroy)(grpc_socket_mutator* mutator);
    bool (*mutate_fd_2)(const void* info, grpc_socket_mutator* mutator);
} grpc_socket_mutator_vtable;

struct grpc_socket_mutator {
    const grpc_socket_mutator_vtable* vtable;
    gpr_refcount refcount;
};

void grpc_socket_mutator_init(grpc_socket_mutator* mutator,
                              const grpc_socket_mutator_vtable* vtable);

namespace ovremote {
namespace {

struct LocalAddressMutator {
    grpc_socket_mutator base;  // first: gRPC holds a pointer to it
    unsigned address;
};

LocalAddressMutator* Of(grpc_socket_mutator* mutator)
{
    return reinterpret_cast<LocalAddressMutator*>(mutator);
}

// The socket is IPv6 when gRPC maps an IPv4 target into it; the address is
// then bound in its mapped form.
bool Bind(int fd, grpc_socket_mutator* mutator)
{
    const unsigned address = Of(mutator)->address;
    int family = 0;
    socklen_t length = sizeof family;
    if (getsockopt(fd, SOL_SOCKET, SO_DOMAIN, &family, &length) != 0) return false;
    if (family == AF_INET) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = address;
        return bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    if (family == AF_INET6) {
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_addr.s6_addr[10] = 0xff;
        local.sin6_addr.s6_addr[11] = 0xff;
        std::memcpy(&local.sin6_addr.s6_addr[12], &address, 4);
        return bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    return true;  // not an internet socket: nothing to bind
}

int Compare(grpc_socket_mutator* a, grpc_socket_mutator* b)
{
    const unsigned left = Of(a)->address;
    const unsigned right = Of(b)->address;
    return left < right ? -1 : left > right ? 1 : 0;
}

void Destroy(grpc_socket_mutator* mutator) { delete Of(mutator); }

const grpc_socket_mutator_vtable kVtable = {Bind, Compare, Destroy, nullptr};

}  // namespace

grpc_socket_mutator* NewLocalAddressMutator(unsigned address)
{
    auto* mutator = new LocalAddressMutator{};
    mutator->address = address;
    grpc_socket_mutator_init(&mutator->base, &kVtable);
    return &mutator->base;
}

}  // namespace ovremote
