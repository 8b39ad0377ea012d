# The MSI installer of the release build, made by wixl (msitools):
#   build-release/ZorbexGUI.msi            for 32-bit Windows: the 32-bit DLL
#   build-x64-release/ZorbexGUI-x64.msi    for 64-bit Windows: the 32-bit DLL (of build-release, for the
#                                          32-bit browser) and the 64-bit DLL (for 64-bit tab processes)
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
# The x64 package (both DLLs) is a product of its own, with an upgrade code of its own.
set(ZORBEX_MSI_UPGRADE_CODE_x86 904A9175-58AC-4C9A-AAEB-88D33DAB3CEE)
set(ZORBEX_MSI_UPGRADE_CODE_x64 5D0A2C61-7F0B-4B3E-9C1A-2E6B8F4D7A93)
set(ZORBEX_MSI_UPGRADE_CODE ${ZORBEX_MSI_UPGRADE_CODE_${ZORBEX_ARCH}})
# Everything else is derived from it: the same for the same version, different for every other version.
string(UUID ZORBEX_MSI_PRODUCT_CODE NAMESPACE ${ZORBEX_MSI_UPGRADE_CODE}
       NAME "ProductCode ${PROJECT_VERSION}" TYPE SHA1 UPPER)
# The component of the 32-bit DLL is one and the same in both packages (same file, same registry rows), so
# that Windows Installer counts its installations where both packages are installed.
string(UUID ZORBEX_MSI_COMPONENT_GUID_x86 NAMESPACE ${ZORBEX_MSI_UPGRADE_CODE_x86} NAME "Component ZorbexGUI.dll"
       TYPE SHA1 UPPER)
string(UUID ZORBEX_MSI_COMPONENT_GUID_x64 NAMESPACE ${ZORBEX_MSI_UPGRADE_CODE_x64} NAME "Component ZorbexGUI.dll x64"
       TYPE SHA1 UPPER)
set(ZORBEX_MSI_FOLDER "${ZORBEX_PRODUCT_NAME}")
set(ZORBEX_MSI_COMMENTS "${ZORBEX_PRODUCT_NAME} ${PROJECT_VERSION}: browser toolbars and automation objects (ZorbexGUI.dll).")
set(ZORBEX_X86_RELEASE_DIR ${CMAKE_SOURCE_DIR}/build-release CACHE PATH
    "Release build of the 32-bit library, which the x64 package carries too")
if(ZORBEX_ARCH STREQUAL "x64")
    set(ZORBEX_MSI_NAME ZorbexGUI-x64.msi)
    set(ZORBEX_MSI_COMMENTS "${ZORBEX_MSI_COMMENTS} The 32-bit library serves the 32-bit browser, the 64-bit one its 64-bit tab processes.")
    set(x86_release_dll ${ZORBEX_X86_RELEASE_DIR}/ZorbexGUI.dll)
else()
    set(ZORBEX_MSI_NAME ZorbexGUI.msi)
endif()

# The desk bands of the class registry and their captions; every band is in the browser's toolbar list.
set(desk_band_category "{00021492-0000-0000-C000-000000000046}")
set(band_ZorbexExplorerBar "${ZORBEX_PRODUCT_NAME} Bar")
set(band_TrovellaQLToolbar "${ZORBEX_PRODUCT_NAME} Links Bar")

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

# zorbex_registry_rows(<file id> <folder property> <platform key> <variable>): what DllRegisterServer of the
# DLL packaged as <file id> writes, as rows; the 32-bit DLL's rows land in the 32-bit registry view because
# its component is a 32-bit one.
function(zorbex_registry_rows file_id folder platform variable)
    set(rows "")
    set(libid "{${IDL_LIBID}}")
    set(dll_path "[#${file_id}]")
    # RegisterTypeLib writes the directory of the library without a closing separator, which a directory
    # property always has: the folder is written out, which is why the product folder is fixed.
    set(dll_directory "[${folder}]${ZORBEX_MSI_FOLDER}")

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
    zorbex_row(HKCR "${libkey}\\${IDL_LIBLCID}\\${platform}" "" "${dll_path}")
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
    set(${variable} "${rows}" PARENT_SCOPE)
endfunction()

# The components: the folder under Program Files, the DLL and its registry rows. The x86 package has the
# 32-bit DLL; the x64 package has it too, beside the 64-bit DLL under the 64-bit Program Files.
# The packaged copies are staged by cmake/BuildMsi.cmake with the source time, and wixl runs in the staging
# folder (it finds files relative to the working directory).
set(stage_dir ${CMAKE_BINARY_DIR}/msi/stage)
zorbex_registry_rows(ZorbexGUI.dll ProgramFilesFolder win32 rows_x86)
set(ZORBEX_MSI_DIRECTORIES "      <Directory Id=\"ProgramFilesFolder\">
        <Directory Id=\"ProductFolder\" Name=\"${ZORBEX_MSI_FOLDER}\">
          <!-- The library and every registry entry DllRegisterServer writes: the installer writes them,
               repairs them and removes them with the library. -->
          <Component Id=\"ZorbexGUI\" Guid=\"${ZORBEX_MSI_COMPONENT_GUID_x86}\" Win64=\"no\">
            <File Id=\"ZorbexGUI.dll\" Name=\"ZorbexGUI.dll\" Source=\"x86/ZorbexGUI.dll\" KeyPath=\"yes\"/>
${rows_x86}          </Component>
        </Directory>
      </Directory>")
set(ZORBEX_MSI_COMPONENT_REFS "      <ComponentRef Id=\"ZorbexGUI\"/>")
set(msi_dlls "x86/ZorbexGUI.dll=$<TARGET_FILE:ZorbexGUI>")
set(msi_dll_depends ZorbexGUI $<TARGET_FILE:ZorbexGUI>)
if(ZORBEX_ARCH STREQUAL "x64")
    zorbex_registry_rows(ZorbexGUI64.dll ProgramFiles64Folder win64 rows_x64)
    string(APPEND ZORBEX_MSI_DIRECTORIES "
      <Directory Id=\"ProgramFiles64Folder\">
        <Directory Id=\"ProductFolder64\" Name=\"${ZORBEX_MSI_FOLDER}\">
          <!-- The 64-bit library, for the browser's 64-bit tab processes, and its rows in the 64-bit view. -->
          <Component Id=\"ZorbexGUI64\" Guid=\"${ZORBEX_MSI_COMPONENT_GUID_x64}\" Win64=\"yes\">
            <File Id=\"ZorbexGUI64.dll\" Name=\"ZorbexGUI.dll\" Source=\"x64/ZorbexGUI.dll\" KeyPath=\"yes\"/>
${rows_x64}          </Component>
        </Directory>
      </Directory>")
    string(APPEND ZORBEX_MSI_COMPONENT_REFS "
      <ComponentRef Id=\"ZorbexGUI64\"/>")
    set(msi_dlls "x86/ZorbexGUI.dll=${x86_release_dll}" "x64/ZorbexGUI.dll=$<TARGET_FILE:ZorbexGUI>")
    list(APPEND msi_dll_depends ${x86_release_dll})
    if(NOT EXISTS ${x86_release_dll})
        message(STATUS "The x64 installer needs the 32-bit release DLL ${x86_release_dll}: build the release preset first")
    endif()
endif()

set(wxs ${CMAKE_BINARY_DIR}/msi/ZorbexGUI.wxs)
configure_file(${wxs_template} ${wxs} @ONLY)

set(msi ${CMAKE_BINARY_DIR}/${ZORBEX_MSI_NAME})
string(REPLACE ";" "|" msi_dlls_arg "${msi_dlls}")
add_custom_command(
    OUTPUT ${msi}
    COMMAND ${CMAKE_COMMAND} -DWIXL=${WIXL_EXECUTABLE} -DMSIBUILD=${MSIBUILD_EXECUTABLE} -DWXS=${wxs}
            -DARCH=${ZORBEX_ARCH} "-DDLLS=${msi_dlls_arg}" -DSTAGE=${stage_dir} -DOUTPUT=${msi}
            -DVERSION=${PROJECT_VERSION} -DPRODUCT_CODE=${ZORBEX_MSI_PRODUCT_CODE}
            "-DSUBJECT=${ZORBEX_PRODUCT_NAME} browser toolbars" "-DAUTHOR=${ZORBEX_MAKER_NAME}"
            -P ${CMAKE_CURRENT_LIST_DIR}/BuildMsi.cmake
    DEPENDS ${msi_dll_depends} ${wxs} ${CMAKE_CURRENT_LIST_DIR}/BuildMsi.cmake
            ${CMAKE_SOURCE_DIR}/tools/msi/stamp_summary.pl
    COMMENT "wixl ${ZORBEX_MSI_NAME} (${ZORBEX_PRODUCT_NAME} ${PROJECT_VERSION}, ${ZORBEX_ARCH})"
    VERBATIM)
add_custom_target(ZorbexGUI_msi ALL DEPENDS ${msi})
