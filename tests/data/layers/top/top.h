#pragma once
#include "low/up.h"  // down: allowed
