#pragma once
#include "side/side.h"  // sideways
#include "low/up.h"  // its own folder
