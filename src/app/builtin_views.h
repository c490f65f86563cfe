#pragma once

#include "gui/shell/view_registry.h"

/// Every view the program has, by view number.
ViewRegistry builtinViews();
