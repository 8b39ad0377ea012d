// The interfaces and identifiers of the library's own type library and of the Keptor application,
// generated from resources/ZorbexGUI.idl and resources/KeptorServer.idl.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "ZorbexGUI.h"
#include "KeptorServer.h"
