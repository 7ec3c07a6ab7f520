// The one connection of a program to the service daemon, shared by the
// proxies of every service (RemoteProxies.cpp): opened by the framework's
// Start, tried again as the communication parameters say, each call given
// the method time-out.
#pragma once

#include <grpcpp/grpcpp.h>

#include <functional>
#include <string>

#include "platform/remote/RemoteAccess.h"
#include "platform/remote/services.grpc.pb.h"
#include "services/OvCommFramework.h"

namespace ovremote {

// The settings of [ServiceAccess]; the connection is made anew with them.
void ConfigureLink(AccessSettings access);
// The framework's Start: a channel to the location with the parameters.
// The connection is made in the background; calls wait for it.
unsigned OpenLink(const std::string& location, const OvCommParameters& parameters);
// Whether the daemon answers, trying as often and waiting as long as the
// parameters say.
bool ConnectLink();

// One call to the daemon. call makes it on the stub with the context it is
// given and sets answered once the daemon has sent something; the result
// is 0 or the framework's status of the failed call (kOvService...). A call
// is made once more when the connection turned out to be gone before
// anything was answered (the daemon restarted since the last call).
using LinkCall =
    std::function<grpc::Status(UserServices::Stub&, grpc::ClientContext&, bool& answered)>;
unsigned Invoke(const LinkCall& call);

template <class Request, class Reply>
using UnaryCall = grpc::Status (UserServices::Stub::*)(grpc::ClientContext*, const Request&,
                                                       Reply*);

// One call of one request and one reply.
template <class Request, class Reply>
unsigned Unary(UnaryCall<Request, Reply> method, const Request& request, Reply& reply)
{
    return Invoke([&](UserServices::Stub& stub, grpc::ClientContext& context, bool&) {
        return (stub.*method)(&context, request, &reply);
    });
}

}  // namespace ovremote
