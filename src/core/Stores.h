#pragma once

// The observable stores behind the data screens, under the name callers know them by.
#include "JobsStore.h"
#include "PortsStore.h"
