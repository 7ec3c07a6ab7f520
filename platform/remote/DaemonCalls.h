// The calls the service daemon answers: each one made on the services of
// the process, one call inside them at a time, the answers sent in
// parallel; listings in pieces, within a memory budget, ended when their
// client stops taking them; authentications throttled; explicit listings
// only at the directory's own and the allowed servers.
#pragma once

#include <grpcpp/grpcpp.h>
#include <grpcpp/impl/codegen/service_type.h>

#include <memory>
#include <string>

#include "platform/remote/ServiceDaemon.h"

namespace ovremote {

std::unique_ptr<grpc::Service> NewDaemonCalls(const DaemonSettings& settings);

// A notice record of the daemon on the program's error stream.
void DaemonNotice(const std::string& message);

}  // namespace ovremote
