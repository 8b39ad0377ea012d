// Definitions of the GUIDs declared by the generated interface headers.
#include <initguid.h>

#include "server/ZorbexGUI_TLB.h"
