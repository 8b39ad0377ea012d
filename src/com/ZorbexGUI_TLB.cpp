// Definitions of the GUIDs declared by the generated interface headers.
#include <initguid.h>

#include "com/ZorbexGUI_TLB.h"
