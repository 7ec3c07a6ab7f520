// The program's one application object, made before main runs; constructing
// it makes it the framework's singleton. Execute deletes it.
// <iostream> comes first: the standard streams must exist before the
// application binds its error stream to std::cerr.
#include <iostream>

#include "apps/UserServiceCommand/OvUserServiceCommandApp.h"

namespace {

OvApplication* const theApplication = new OvUserServiceCommandApp;

}  // namespace
