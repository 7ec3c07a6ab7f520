// Factories that the base library itself provides to the registry.
#pragma once

class OvProxyFactories;

namespace ovbase {

// Registers the communication framework's factory; called once, when the
// registry is made, so it is there whichever static initialiser asks first.
void RegisterBuiltinFactories(OvProxyFactories& registry);

}  // namespace ovbase
