# The MSI installer of the release build: build-release/ZorbexGUI.msi, made by wixl (msitools).
#
# The package writes, as rows of its Registry table, the same keys and values that DllRegisterServer
# writes (band/ClassRegistryUnit.cpp, band/ToolbarFactoryUnit.cpp, com/ComFactoryUnit.cpp and the
# system's RegisterTypeLib), so that Windows Installer repairs and removes them like any other resource
# of the package. The GUIDs and names come from the IDL and the resource script; the version from
# project(VERSION).

include(${CMAKE_CURRENT_LIST_DIR}/ZorbexIdl.cmake)

find_program(WIXL_EXECUTABLE wixl)
find_program(MSIBUILD_EXECUTABLE msibuild)
if(NOT WIXL_EXECUTABLE OR NOT MSIBUILD_EXECUTABLE)
    message(WARNING "wixl and msibuild (packages wixl, msitools) not found: no MSI installer (run tools/setup.sh)")
    return()
endif()

set(idl_file ${CMAKE_SOURCE_DIR}/resources/ZorbexGUI.idl)
set(rc_file ${CMAKE_SOURCE_DIR}/resources/ZorbexGUI.rc)
set(wxs_template ${CMAKE_SOURCE_DIR}/tools/msi/ZorbexGUI.wxs.in)
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${idl_file} ${rc_file} ${wxs_template})

zorbex_read_idl(${idl_file} IDL)
zorbex_read_rc_string(${rc_file} IDS_PRODUCT_NAME ZORBEX_PRODUCT_NAME)
zorbex_read_rc_string(${rc_file} IDS_MAKER_NAME ZORBEX_MAKER_NAME)

# Identity of the product across all its versions; never change it, or upgrades no longer find older versions.
set(ZORBEX_MSI_UPGRADE_CODE 904A9175-58AC-4C9A-AAEB-88D33DAB3CEE)
# Everything else is derived from it: the same for the same version, different for every other version.
string(UUID ZORBEX_MSI_PRODUCT_CODE NAMESPACE ${ZORBEX_MSI_UPGRADE_CODE}
       NAME "ProductCode ${PROJECT_VERSION}" TYPE SHA1 UPPER)
string(UUID ZORBEX_MSI_COMPONENT_GUID NAMESPACE ${ZORBEX_MSI_UPGRADE_CODE} NAME "Component ZorbexGUI.dll" TYPE SHA1 UPPER)
set(ZORBEX_MSI_FOLDER "${ZORBEX_PRODUCT_NAME}")
# The packaged copy of the library: cmake/BuildMsi.cmake stages it with the source time, and runs wixl in
# its folder (wixl finds files relative to the working directory).
set(staged_dll ${CMAKE_BINARY_DIR}/msi/stage/ZorbexGUI.dll)
set(ZORBEX_MSI_COMMENTS "${ZORBEX_PRODUCT_NAME} ${PROJECT_VERSION}: browser toolbars and automation objects (ZorbexGUI.dll).")

# The desk bands of the class registry and their captions; every band is in the browser's toolbar list.
set(desk_band_category "{00021492-0000-0000-C000-000000000046}")
set(band_ZorbexExplorerBar "${ZORBEX_PRODUCT_NAME} Bar")
set(band_TrovellaQLToolbar "${ZORBEX_PRODUCT_NAME} Links Bar")

set(rows "")
function(zorbex_xml_escape variable)
    set(text "${${variable}}")
    string(REPLACE "&" "&amp;" text "${text}")
    string(REPLACE "<" "&lt;" text "${text}")
    string(REPLACE ">" "&gt;" text "${text}")
    string(REPLACE "\"" "&quot;" text "${text}")
    set(${variable} "${text}" PARENT_SCOPE)
endfunction()

# zorbex_row(<root> <key> <name> <value>): one row of the Registry table; an empty name is the default value.
function(zorbex_row root key name value)
    zorbex_xml_escape(key)
    zorbex_xml_escape(value)
    set(row "            <RegistryValue Root=\"${root}\" Key=\"${key}\"")
    if(NOT name STREQUAL "")
        string(APPEND row " Name=\"${name}\"")
    endif()
    string(APPEND row " Type=\"string\" Value=\"${value}\"/>\n")
    set(rows "${rows}${row}" PARENT_SCOPE)
endfunction()

set(libid "{${IDL_LIBID}}")
set(dll_path "[#ZorbexGUI.dll]")
# RegisterTypeLib writes the directory of the library without a closing separator, which a directory
# property always has: the folder is written out, which is why the product folder is fixed.
set(dll_directory "[ProgramFilesFolder]${ZORBEX_MSI_FOLDER}")

foreach(class IN LISTS IDL_COCLASSES)
    set(clsid "{${IDL_${class}_UUID}}")
    set(progid "${IDL_LIBRARY}.${class}")
    set(description "${IDL_${class}_HELP}")
    if(DEFINED band_${class})
        set(description "${band_${class}}")
    endif()
    set(key "CLSID\\${clsid}")
    # "-": on removal the class key goes with everything under it, as DllUnregisterServer deletes it.
    zorbex_row(HKCR "${key}" "-" "")
    zorbex_row(HKCR "${key}" "" "${description}")
    zorbex_row(HKCR "${key}\\InprocServer32" "" "${dll_path}")
    zorbex_row(HKCR "${key}\\InprocServer32" "ThreadingModel" "Apartment")
    zorbex_row(HKCR "${key}\\ProgID" "" "${progid}")
    zorbex_row(HKCR "${key}\\Version" "" "${IDL_LIBVERSION}")
    zorbex_row(HKCR "${key}\\TypeLib" "" "${libid}")
    zorbex_row(HKCR "${progid}" "" "${IDL_${class}_HELP}")
    zorbex_row(HKCR "${progid}\\Clsid" "" "${clsid}")
    if(DEFINED band_${class})
        # "+": the key is created although it holds no value.
        zorbex_row(HKCR "${key}\\Implemented Categories\\${desk_band_category}" "+" "")
        zorbex_row(HKLM "SOFTWARE\\Microsoft\\Internet Explorer\\Toolbar" "${clsid}" "${description}")
    endif()
endforeach()

# What RegisterTypeLib writes for the embedded type library and its automation interfaces.
set(libkey "TypeLib\\${libid}\\${IDL_LIBVERSION}")
zorbex_row(HKCR "${libkey}" "" "${IDL_LIBHELP}")
zorbex_row(HKCR "${libkey}\\${IDL_LIBLCID}\\win32" "" "${dll_path}")
# LIBFLAG_FHASDISKIMAGE: the library is read from a file.
zorbex_row(HKCR "${libkey}\\FLAGS" "" "8")
zorbex_row(HKCR "${libkey}\\HELPDIR" "" "${dll_directory}")
foreach(interface IN LISTS IDL_INTERFACES)
    set(key "Interface\\{${IDL_${interface}_UUID}}")
    zorbex_row(HKCR "${key}" "" "${interface}")
    zorbex_row(HKCR "${key}\\ProxyStubClsid" "" "${IDL_${interface}_PROXY}")
    zorbex_row(HKCR "${key}\\ProxyStubClsid32" "" "${IDL_${interface}_PROXY}")
    zorbex_row(HKCR "${key}\\TypeLib" "" "${libid}")
    zorbex_row(HKCR "${key}\\TypeLib" "Version" "${IDL_LIBVERSION}")
endforeach()
set(ZORBEX_MSI_REGISTRY "${rows}")

set(wxs ${CMAKE_BINARY_DIR}/msi/ZorbexGUI.wxs)
configure_file(${wxs_template} ${wxs} @ONLY)

set(msi ${CMAKE_BINARY_DIR}/ZorbexGUI.msi)
add_custom_command(
    OUTPUT ${msi}
    COMMAND ${CMAKE_COMMAND} -DWIXL=${WIXL_EXECUTABLE} -DMSIBUILD=${MSIBUILD_EXECUTABLE} -DWXS=${wxs}
            -DDLL=$<TARGET_FILE:ZorbexGUI> -DSTAGED_DLL=${staged_dll} -DOUTPUT=${msi} -DVERSION=${PROJECT_VERSION}
            -DPRODUCT_CODE=${ZORBEX_MSI_PRODUCT_CODE} "-DSUBJECT=${ZORBEX_PRODUCT_NAME} browser toolbars"
            "-DAUTHOR=${ZORBEX_MAKER_NAME}" -P ${CMAKE_CURRENT_LIST_DIR}/BuildMsi.cmake
    DEPENDS ZorbexGUI $<TARGET_FILE:ZorbexGUI> ${wxs} ${CMAKE_CURRENT_LIST_DIR}/BuildMsi.cmake
            ${CMAKE_SOURCE_DIR}/tools/msi/stamp_summary.pl
    COMMENT "wixl ZorbexGUI.msi (${ZORBEX_PRODUCT_NAME} ${PROJECT_VERSION})"
    VERBATIM)
add_custom_target(ZorbexGUI_msi ALL DEPENDS ${msi})
