#pragma once
#include <vector>
#include "nowhere/unknown.h"  // no layer
