// "Start with Windows": the start type of the program's installed service.
#pragma once

#include "base/product.h"

// The service the program registers for itself.
constexpr const char* VigrelServiceName = ProductName;

// Sets the service to start automatically (true) or on demand (false), writing every other
// value of its configuration back as queried. False when anything failed; nothing is reported.
bool SetAutoStart(bool startWithWindows, const char* serviceName = VigrelServiceName);
