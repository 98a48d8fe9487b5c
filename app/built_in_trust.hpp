// The update server's host and the public keys built into this updater.
#pragma once

#include "updater_trust.hpp"

const UpdaterTrust& BuiltInTrust();
