// The control surface of the reference Keptor server, generated from tools/keptor/KeptorControl.idl.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "KeptorControl.h"
