#pragma once
#include "low/up.h"     // its own folder
#include "side/side.h"  // sideways
