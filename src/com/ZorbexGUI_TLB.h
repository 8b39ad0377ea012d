// The interfaces and identifiers of the library's own type library and of the Keptor application,
// generated from resources/ZorbexGUI.idl and resources/KeptorServer.idl. One header for both, so that
// every unit names the interfaces the same way; ZorbexGUI_TLB.cpp defines their GUIDs once.
#pragma once

#include <windows.h>
#include <ole2.h>

#include "ZorbexGUI.h"
#include "KeptorServer.h"
