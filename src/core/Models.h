#pragma once

// The records of the two data screens, under the name callers know them by.
#include "LaunchdJob.h"
#include "ServicePort.h"
