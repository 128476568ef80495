#pragma once
#include "nowhere/unknown.h"  // no layer
#include <vector>
