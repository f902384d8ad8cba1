#pragma once

// The text helpers every page reader uses, from the shared text library.
#include "text/host.h"
#include "text/text.h"
