// The scripted loopback server is test support now (support/scripted_server.h); this name stays
// for the engine suites' branch until it has moved over.
#pragma once
#include "support/scripted_server.h"
