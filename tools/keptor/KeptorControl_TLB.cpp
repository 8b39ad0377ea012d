// Definitions of the GUIDs declared by the control surface's generated header.
#include <initguid.h>

#include "KeptorControl_TLB.h"
